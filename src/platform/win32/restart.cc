#include "platform/native_calls.h"

#include "platform/restart.h"

#include <windows.h>

#include "platform/win32/win32_status.h"
#include "platform/win32/windows_family.h"

namespace platform {
namespace native {

Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                             unsigned long flags) {
  // Neither the Windows 95 family nor Win32s implements MoveFileExA; the
  // call is not made there, so that Wine playing those systems fails as they
  // would. Callers use WININIT.INI on the 95 family instead.
  if (!isWindowsNt()) {
    return Status::failure(ERROR_CALL_NOT_IMPLEMENTED, false);
  }
  if (moveFileExA(source.c_str(), destination, flags)) {
    return Status::success();
  }
  // Some versions refuse a copy permission together with the delay, which
  // is meaningless there: the step is carried out at start-up as a rename.
  // Retrying without it keeps the registration rather than losing it.
  const unsigned long delayAndCopy = kMoveDelayUntilReboot | kMoveCopyAllowed;
  if (GetLastError() == ERROR_INVALID_PARAMETER && (flags & delayAndCopy) == delayAndCopy &&
      moveFileExA(source.c_str(), destination, flags & ~kMoveCopyAllowed)) {
    return Status::success();
  }
  return lastErrorStatus();
}

}  // namespace native
}  // namespace platform
