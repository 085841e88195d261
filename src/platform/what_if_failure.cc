#include "platform/what_if_failure.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace platform {

Status whatIfFailure(WhatIfFailure failure) {
  struct Number {
    unsigned long error;
    bool notFound;
  };
#ifdef _WIN32
  static const Number kNumbers[] = {
      {ERROR_FILE_NOT_FOUND, true},       {ERROR_PATH_NOT_FOUND, true},
      {ERROR_FILE_EXISTS, false},         {ERROR_ALREADY_EXISTS, false},
      {ERROR_ACCESS_DENIED, false},       {ERROR_SHARING_VIOLATION, false},
      {ERROR_NO_MORE_ITEMS, true},        {ERROR_MORE_DATA, false},
      {ERROR_INVALID_HANDLE, false},      {ERROR_KEY_DELETED, false},
      {ERROR_CALL_NOT_IMPLEMENTED, false}};
#else
  static const Number kNumbers[] = {{ENOENT, true},  {ENOENT, true},  {EEXIST, false},
                                    {EEXIST, false}, {EACCES, false}, {EBUSY, false},
                                    {ENOENT, true},  {ERANGE, false}, {EBADF, false},
                                    {ENOENT, true},  {ENOSYS, false}};
#endif
  const Number& number = kNumbers[static_cast<int>(failure)];
  return Status::failure(number.error, number.notFound);
}

}  // namespace platform
