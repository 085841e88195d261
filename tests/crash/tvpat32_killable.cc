// The Linux installer with a kill switch for the crash walk: it counts the
// platform calls of the run through the stand-ins' fault hook and, when
// TVPAT_KILL_AT=n names one, ends the process at the n-th call before that
// call is carried out, as a kill from outside would: no stdio flush, no
// destructors, no exit handlers. With TVPAT_KILL_AT unset or 0 it only
// counts, and when TVPAT_CALL_COUNT_FILE names a file it writes the number of
// calls there as the run ends. Copied into a patch directory under the
// installer's own name, it finds its catalogue and profile as the installer
// does.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/run.h"
#include "platform/posix/test_hooks.h"

namespace {

using platform::testing::Call;

unsigned long callCount = 0;
unsigned long killAt = 0;
const char* countFile = nullptr;

// renameFile and replaceFile ask the hook about the source and then about
// the target; both questions belong to one call, so the second is not
// counted (and never killed at: that point equals the first).
bool awaitingTarget = false;

bool asksTwice(Call call) { return call == Call::kRenameFile || call == Call::kReplaceFile; }

int countCall(Call call, const std::string& path) {
  if (awaitingTarget && asksTwice(call)) {
    awaitingTarget = false;
    return 0;
  }
  awaitingTarget = asksTwice(call);
  if (++callCount == killAt) {
    // One line on the unbuffered descriptor, so a failed walk can say where
    // it cut the run; then the end that leaves everything as it was.
    std::string line = "killed at call " + std::to_string(callCount) + " (Call " +
                       std::to_string(static_cast<int>(call)) + " of the hook) on " + path + "\n";
    ssize_t ignored = write(2, line.data(), line.size());
    (void)ignored;
    _exit(137);
  }
  return 0;
}

void writeCount() {
  std::FILE* stream = std::fopen(countFile, "w");
  if (stream == nullptr) return;
  std::fprintf(stream, "%lu\n", callCount);
  std::fclose(stream);
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* value = std::getenv("TVPAT_KILL_AT")) killAt = std::strtoul(value, nullptr, 10);
  countFile = std::getenv("TVPAT_CALL_COUNT_FILE");
  // The installer may end through exit() from deep inside (a critical error,
  // an installed patch); an exit handler sees those ends too.
  if (countFile != nullptr && *countFile != '\0') std::atexit(writeCount);
  platform::testing::setFaultHook(countCall);
  return runInstaller(argc, argv);
}
