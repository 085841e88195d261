#include "platform/native_calls.h"

#include "platform/file_lock.h"

#include <windows.h>

#include "platform/win32/handle_value.h"
#include "platform/win32/win32_status.h"

namespace platform {
namespace native {

Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) {
  *heldElsewhere = false;
  // Sharing nothing makes every other open of the file fail while this handle
  // lives, on the Windows 95 family as on Windows NT. Without security
  // attributes the handle is not inherited, so a reboot program started at
  // the end of the run does not keep the product locked.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Status status = lastErrorStatus();
    *heldElsewhere = status.systemError == ERROR_SHARING_VIOLATION;
    return status;
  }
  *file = fromSystemHandle<FileHandle>(handle);
  return Status::success();
}

}  // namespace native
}  // namespace platform
