// Internal helpers shared by the POSIX stand-ins: the fault hook check, the
// table that remembers which path each open descriptor came from, the
// conversion of errno values into Status, the comparison of names without
// regard to case, and the resolution of Windows paths onto the Linux file
// system. Only the files of this folder include it, and the restart
// simulation of tools/tvprestart, which works on the stand-ins' own files.
#ifndef SRC_PLATFORM_POSIX_POSIX_SUPPORT_H_
#define SRC_PLATFORM_POSIX_POSIX_SUPPORT_H_

#include <string>
#include <vector>

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
// to case (upperNameCase) in its directory, and then as the alias of a long
// name there (getShortNames). A component that has no match at all is kept
// as given, together with everything after it, so that a name that is about
// to be created keeps its case.
std::string resolvePath(const std::string& path);

// The 8.3 aliases of the names of one directory, one for each of `names`
// (as on disk) in the same order: empty for a name that is its own alias
// (isShortName) or of which no alias can be made. Windows gives a long name
// its alias when the file is made and keeps it for the file's life; the
// stand-in keeps none, so it works each alias out from the name alone, so
// that names coming and going beside it never change it: the first two
// characters of the basis (getShortNameBasis), four base-32 digits of a hash
// of the whole name in upper case, "~1" and the extension. Long names whose
// aliases would meet number them ~1, ~2 and on in the order the directory is
// listed, passing over 8.3 names the directory holds.
std::vector<std::string> getShortNames(const std::vector<std::string>& names);

// The alias of the entry `name` (as on disk) of the Linux directory
// `directory`, from getShortNames; empty when the name is its own alias or
// the directory cannot be read.
std::string getShortNameIn(const std::string& directory, const std::string& name);

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
