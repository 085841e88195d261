// Registration of a rename or deletion that the system carries out at its
// next start: MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT on Win32. The
// POSIX stand-in appends the registration to a queue file in the Windows
// directory, which tvprestart carries out.
#ifndef SRC_PLATFORM_RESTART_H_
#define SRC_PLATFORM_RESTART_H_

#include <string>

#include "platform/status.h"

namespace platform {

constexpr unsigned long kMoveReplaceExisting = 1;
constexpr unsigned long kMoveCopyAllowed = 2;
constexpr unsigned long kMoveDelayUntilReboot = 4;

// Registers the rename of `source` to `destination`, or the deletion of
// `source` when destination is null, with MoveFileExA flags `flags`.
Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                             unsigned long flags);

}  // namespace platform

#endif  // SRC_PLATFORM_RESTART_H_
