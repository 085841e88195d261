#include "driver/report_error.h"

#include "base/error.h"

namespace {

// Every piece is flushed on its own, so that whatever was written before the
// process dies is on the console.
void writeText(std::FILE* stream, const char* text) {
  std::fputs(text, stream);
  std::fflush(stream);
}

void writeSigned(std::FILE* stream, long value) {
  std::fprintf(stream, "%ld", value);
  std::fflush(stream);
}

void writeUnsigned(std::FILE* stream, unsigned long value) {
  std::fprintf(stream, "%lu", value);
  std::fflush(stream);
}

}  // namespace

void reportError(const Error& error, std::FILE* stream) {
  writeText(stream, "\a");
  writeText(stream, "Critical ERROR Occured on line ");
  writeSigned(stream, error.getSourceLine());
  writeText(stream, " of file ");
  writeText(stream, error.getSourceFile().c_str());
  writeText(stream, "\n");
  writeText(stream, "     Error Number:  ");
  writeUnsigned(stream, static_cast<unsigned>(error.getErrorNumber()));
  writeText(stream, "\n");
  writeText(stream, "     Error Message: ");
  writeText(stream, error.getErrorMessage().c_str());
  writeText(stream, "\n");
  writeText(stream, "     Size:          ");
  writeUnsigned(stream, error.getSize());
  writeText(stream, "\n");
}
