// The failures that the what-if backend makes up itself, each with the error
// number the system in force gives for it: a Win32 error code on Win32, an
// errno value on POSIX. Only the what-if backend includes this header.
#ifndef SRC_PLATFORM_WHAT_IF_FAILURE_H_
#define SRC_PLATFORM_WHAT_IF_FAILURE_H_

#include "platform/status.h"

namespace platform {

enum class WhatIfFailure {
  kFileNotFound,    // ERROR_FILE_NOT_FOUND, ENOENT: nothing of that name
  kPathNotFound,    // ERROR_PATH_NOT_FOUND, ENOENT: a missing directory on the way
  kFileExists,      // ERROR_FILE_EXISTS, EEXIST: a new file's name is taken
  kAlreadyExists,   // ERROR_ALREADY_EXISTS, EEXIST: a rename's or directory's name is taken
  kAccessDenied,    // ERROR_ACCESS_DENIED, EACCES: read-only, or a directory where a file is meant
  kInUse,           // ERROR_SHARING_VIOLATION, EBUSY
  kNoMoreItems,     // ERROR_NO_MORE_ITEMS, ENOENT: past the end of an enumeration
  kMoreData,        // ERROR_MORE_DATA, ERANGE: a value or name longer than the buffer
  kBadHandle,       // ERROR_INVALID_HANDLE, EBADF
  kKeyDeleted,      // ERROR_KEY_DELETED, ENOENT: a key deleted while open
  kNotImplemented,  // ERROR_CALL_NOT_IMPLEMENTED, ENOSYS
};

// The failure as the platform calls report it; the not-found kinds are
// notFound.
Status whatIfFailure(WhatIfFailure failure);

}  // namespace platform

#endif  // SRC_PLATFORM_WHAT_IF_FAILURE_H_
