#include "platform/native_calls.h"

#include "platform/restart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/posix_support.h"
#include "platform/posix/restart_queue.h"

namespace platform {
namespace native {

namespace {

// A tab or line end inside a path would split the registration's line; no
// Windows path can hold either, so MoveFileExA would refuse the name anyway.
bool fitsOnLine(const std::string& path) {
  return path.find_first_of("\t\r\n") == std::string::npos;
}

}  // namespace

Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                             unsigned long flags) {
  if (posix::faultHookInstalled) {
    if (int fault = posix::consultFaultHook(testing::Call::kScheduleMoveAtRestart, source)) {
      return posix::failureFromErrno(fault);
    }
  }
  std::string target = destination == nullptr ? std::string() : destination;
  if (source.empty() || !fitsOnLine(source) || !fitsOnLine(target)) {
    return posix::failureFromErrno(EINVAL);
  }
  std::string windowsDirectory;
  Status status = posix::readWindowsDirectory(&windowsDirectory);
  if (!status.ok) return status;

  std::string line = std::to_string(flags) + "\t" + source + "\t" + target + "\n";
  std::string queue = posix::resolvePath(posix::getRestartQueuePath(windowsDirectory));
  // A queue made by this call must also have its name on disk; one that is
  // there already only grows.
  bool made = false;
  int descriptor = open(queue.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (descriptor < 0 && errno == ENOENT) {
    descriptor = open(queue.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    made = descriptor >= 0;
    if (descriptor < 0 && errno == EEXIST) {
      descriptor = open(queue.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
  }
  if (descriptor < 0) return posix::failureFromErrno(errno);
  // One write per registration: with O_APPEND the line lands whole at the
  // end even when another process appends at the same time.
  ssize_t written;
  do {
    written = write(descriptor, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  int error = written < 0 ? errno : (written == static_cast<ssize_t>(line.size()) ? 0 : ENOSPC);
  // MoveFileExA has the registration in the registry, on disk, when it
  // returns; a restart right after the run must find it here as well.
  if (error == 0 && fsync(descriptor) != 0) error = errno;
  if (close(descriptor) != 0 && error == 0) error = errno;
  if (error != 0) return posix::failureFromErrno(error);
  // Once the line is written the registration stands; a directory that
  // cannot be flushed is no reason to report it as not made.
  if (made) posix::syncParentDirectory(queue);
  return Status::success();
}

}  // namespace native
}  // namespace platform
