#include "platform/restart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/posix_support.h"
#include "platform/posix/restart_queue.h"

namespace platform {

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
  int descriptor = open(queue.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (descriptor < 0) return posix::failureFromErrno(errno);
  // One write per registration: with O_APPEND the line lands whole at the
  // end even when another process appends at the same time.
  ssize_t written;
  do {
    written = write(descriptor, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  int error = written < 0 ? errno : (written == static_cast<ssize_t>(line.size()) ? 0 : ENOSPC);
  if (close(descriptor) != 0 && error == 0) error = errno;
  if (error != 0) return posix::failureFromErrno(error);
  return Status::success();
}

}  // namespace platform
