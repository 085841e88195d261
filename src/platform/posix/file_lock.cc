#include "platform/native_calls.h"

#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_support.h"

namespace platform {
namespace native {

Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) {
  *heldElsewhere = false;
  int error =
      posix::faultHookInstalled ? posix::consultFaultHook(testing::Call::kLockFile, path) : 0;
  int descriptor = -1;
  if (error == 0) {
    // Closed when a program is started, as Windows does not pass the handle
    // on either: a reboot program must not keep the product locked.
    do {
      descriptor = open(posix::resolvePath(path).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) error = errno;
  }
  if (error == 0) {
    // flock, unlike fcntl's record locks, belongs to the open file and not to
    // the process: a second open in this process is refused, as a second
    // handle is on Windows, and closing some other descriptor of the file
    // does not drop the lock.
    int result;
    do {
      result = flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      error = errno;
      close(descriptor);
    }
  }
  if (error != 0) {
    *heldElsewhere = error == EWOULDBLOCK;
    return posix::failureFromErrno(error);
  }
  posix::rememberHandlePath(descriptor, path);
  file->value = descriptor;
  return Status::success();
}

}  // namespace native
}  // namespace platform
