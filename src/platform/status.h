// The outcome of one platform call: success, or failure with the system's
// error number. "Not found" is told apart from other failures because callers
// often treat absence as normal. Status values are small and copied freely.
#ifndef SRC_PLATFORM_STATUS_H_
#define SRC_PLATFORM_STATUS_H_

namespace platform {

struct Status {
  bool ok = true;
  // The file, directory, registry key or value does not exist (ENOENT,
  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND); also the end of an
  // enumeration (ERROR_NO_MORE_ITEMS).
  bool notFound = false;
  // errno on POSIX, GetLastError() or the registry call's result on Win32.
  unsigned long systemError = 0;

  static Status success() { return Status(); }
  static Status failure(unsigned long error, bool isNotFound) {
    Status status;
    status.ok = false;
    status.notFound = isNotFound;
    status.systemError = error;
    return status;
  }
};

}  // namespace platform

#endif  // SRC_PLATFORM_STATUS_H_
