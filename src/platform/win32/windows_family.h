// Which family of Windows the program runs on, for the few calls that the
// Windows 95 family (and Win32s) implements differently from Windows NT, and
// the calls that only Windows NT has, looked up when they are made. Only
// files of this folder include it.
#ifndef SRC_PLATFORM_WIN32_WINDOWS_FAMILY_H_
#define SRC_PLATFORM_WIN32_WINDOWS_FAMILY_H_

#include <windows.h>

namespace platform {

// True on Windows NT, false on the Windows 95 family and Win32s, which do not
// implement MoveFileExA and whose CreateFileA knows no FILE_SHARE_DELETE. The
// answer follows GetVersion rather than a failed call, so that Wine, which
// implements every call whatever version it plays, takes the path of the
// system it plays.
bool isWindowsNt();

// MoveFileExA, looked up in KERNEL32 at the first call rather than imported:
// the platform documentation gives it for Windows NT only, and a program
// that imports a function the system lacks does not load. Where there is
// none it fails with ERROR_CALL_NOT_IMPLEMENTED, as the 95 family's stub
// does.
BOOL moveFileExA(const char* from, const char* to, DWORD flags);

}  // namespace platform

#endif  // SRC_PLATFORM_WIN32_WINDOWS_FAMILY_H_
