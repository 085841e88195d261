// Internal helpers shared by the POSIX stand-ins: the fault hook check, the
// table that remembers which path each open descriptor came from, the
// conversion of errno values into Status, the comparison of names without
// regard to case, and the resolution of Windows paths onto the Linux file
// system. Only the files of this folder include it, and the restart
// simulation of tools/tvprestart, which works on the stand-ins' own files.
#ifndef SRC_PLATFORM_POSIX_POSIX_SUPPORT_H_
#define SRC_PLATFORM_POSIX_POSIX_SUPPORT_H_

#include <string>

#include "platform/name_case.h"
#include "platform/posix/test_hooks.h"
#include "platform/status.h"

namespace platform {
namespace posix {

// True while a test has a fault hook installed; callers test it before they
// build the path argument, so that a run without a hook pays one check.
extern bool faultHookInstalled;

// The errno value the hook chooses for this call, or 0 to go ahead.
int consultFaultHook(testing::Call call, const std::string& path);

// A failure with errno `error`; ENOENT and ENOTDIR count as not found.
Status failureFromErrno(int error);

// Remembers the path a descriptor was opened under, for the hook of later
// handle calls; forget drops it when the descriptor is closed.
void rememberHandlePath(int descriptor, const std::string& path);
void forgetHandlePath(int descriptor);
std::string getHandlePath(int descriptor);

// The path with every "\" turned into "/", as written otherwise.
std::string toSlashes(const std::string& path);

// The Linux path for a Windows path: "\" and "/" both separate components,
// and a component that does not exist exactly is looked up without regard
// to case (upperNameCase) in its directory. A component that has no match at
// all is kept as given, together with everything after it, so that a name
// that is about to be created keeps its case.
std::string resolvePath(const std::string& path);

// The Windows directory named by WINDIR, for the stand-ins that keep their
// files there; unlike getWindowsDirectory it does not consult the fault hook,
// since on Windows the registry and MoveFileExA do not ask for it either.
Status readWindowsDirectory(std::string* directory);

// Makes the directory entry of the file at `linuxPath` (already resolved)
// reach the disk: a rename or a new file is durable only once its directory
// is. Fails with the system's error (some file systems cannot flush a
// directory at all).
Status syncParentDirectory(const std::string& linuxPath);

}  // namespace posix
}  // namespace platform

#endif  // SRC_PLATFORM_POSIX_POSIX_SUPPORT_H_
