// Facts about the running system and the process: the Windows directory, the
// version number, the program's own path and process number, environment
// variables, and starting another program without waiting for it.
//
// On Win32 these are GetWindowsDirectoryA, GetVersion, GetModuleFileNameA,
// GetCurrentProcessId, GetEnvironmentVariableA and CreateProcessA. The POSIX
// stand-ins read WINDIR, TVPAT_WINVER and /proc/self/exe.
#ifndef SRC_PLATFORM_SYSTEM_H_
#define SRC_PLATFORM_SYSTEM_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// The Windows directory, as the system reports it (no trailing separator is
// added or removed). Fails when the system cannot tell; on POSIX when WINDIR
// is unset or empty.
Status getWindowsDirectory(std::string* directory);

// The version number in the form GetVersion returns it: bit 31 set for the
// Windows 95 family and Win32s, the major version in the low byte. On POSIX,
// TVPAT_WINVER read as a decimal or 0x-hexadecimal number; unset or unreadable
// gives 0x00000004 (Windows NT 4).
unsigned long getVersionNumber();

// The full path of the running program file.
Status getProgramPath(std::string* path);

unsigned long getProcessId();

// The value of an environment variable; false when it is not set.
bool getEnvironmentValue(const std::string& name, std::string* value);

// Starts `program` with `arguments` (the first of which is the new process's
// own argv[0]) and returns without waiting. The program is not searched along
// PATH. Fails when the program cannot be started.
Status startProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace platform

#endif  // SRC_PLATFORM_SYSTEM_H_
