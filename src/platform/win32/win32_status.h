// Turns the error numbers of Win32 calls into Status values for the Win32
// implementation of the platform layer. Only files of this folder include it.
#ifndef SRC_PLATFORM_WIN32_WIN32_STATUS_H_
#define SRC_PLATFORM_WIN32_WIN32_STATUS_H_

#include <windows.h>

#include "platform/status.h"

namespace platform {

// A missing file and a missing directory on the way to it both mean "absent"
// to callers; the end of an enumeration is reported the same way.
inline bool isNotFoundError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_NO_MORE_ITEMS;
}

// The failure of the last call that set the thread's error number.
inline Status lastErrorStatus() {
  DWORD error = GetLastError();
  return Status::failure(error, isNotFoundError(error));
}

// The result of a Reg* call, which returns its error instead of setting it.
inline Status registryStatus(LONG result) {
  if (result == ERROR_SUCCESS) {
    return Status::success();
  }
  DWORD error = static_cast<DWORD>(result);
  return Status::failure(error, isNotFoundError(error));
}

}  // namespace platform

#endif  // SRC_PLATFORM_WIN32_WIN32_STATUS_H_
