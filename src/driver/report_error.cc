#include "driver/report_error.h"

#include <string>

#include "base/error.h"

namespace {

// The report, piece by piece, through write(text), so that whatever was
// written before the process dies is on the console.
template <class Write>
void writeReport(const Error& error, Write write) {
  char number[32];
  write("\a");
  write("Critical ERROR Occured on line ");
  std::snprintf(number, sizeof number, "%ld", static_cast<long>(error.getSourceLine()));
  write(number);
  write(" of file ");
  write(error.getSourceFile().c_str());
  write("\n");
  write("     Error Number:  ");
  std::snprintf(number, sizeof number, "%lu",
                static_cast<unsigned long>(static_cast<unsigned>(error.getErrorNumber())));
  write(number);
  write("\n");
  write("     Error Message: ");
  write(error.getErrorMessage().c_str());
  write("\n");
  write("     Size:          ");
  std::snprintf(number, sizeof number, "%lu", error.getSize());
  write(number);
  write("\n");
}

}  // namespace

void reportError(const Error& error, std::FILE* stream) {
  writeReport(error, [stream](const char* text) {
    std::fputs(text, stream);
    std::fflush(stream);
  });
}

std::string formatErrorReport(const Error& error) {
  std::string report;
  writeReport(error, [&report](const char* text) { report += text; });
  return report;
}
