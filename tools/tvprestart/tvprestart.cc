// tvprestart does on Linux what a restart of Windows does with the steps the
// installer put off: the section "rename" of WININIT.INI in the Windows
// directory (WINDIR), then the queue of MoveFileExA registrations. It prints
// one line per step and per failure and exits with 1 when anything failed.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system.h"
#include "restart_simulation.h"

int main() {
  std::string windowsDirectory;
  if (!platform::getWindowsDirectory(&windowsDirectory).ok) {
    std::fprintf(stderr, "tvprestart: WINDIR is not set\n");
    return 1;
  }
  std::vector<std::string> report;
  bool done = tvprestart::carryOutRestart(windowsDirectory, &report);
  for (const std::string& line : report) std::printf("%s\n", line.c_str());
  return done ? 0 : 1;
}
