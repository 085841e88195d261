// Interim forms of the durable-write services, replaced by the careful ones.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/posix/posix_support.h"

namespace platform {

Status flushFile(FileHandle file) {
  if (posix::faultHookInstalled) {
    if (int fault = posix::consultFaultHook(testing::Call::kFlushFile,
                                            posix::getHandlePath(static_cast<int>(file.value)))) {
      return posix::failureFromErrno(fault);
    }
  }
  if (fsync(static_cast<int>(file.value)) != 0) return posix::failureFromErrno(errno);
  return Status::success();
}

Status linkFile(const std::string& from, const std::string& to) {
  if (posix::faultHookInstalled) {
    if (int fault = posix::consultFaultHook(testing::Call::kLinkFile, from)) {
      return posix::failureFromErrno(fault);
    }
    if (int fault = posix::consultFaultHook(testing::Call::kLinkFile, to)) {
      return posix::failureFromErrno(fault);
    }
  }
  if (link(posix::resolvePath(from).c_str(), posix::resolvePath(to).c_str()) != 0) {
    return posix::failureFromErrno(errno);
  }
  return Status::success();
}

Status readWholeFile(const std::string& path, std::string* content) {
  content->clear();
  FileHandle file;
  Status status = openFileForReading(path, &file);
  if (!status.ok) return status;
  status = readToEnd(file, content);
  closeFile(file);
  return status;
}

Status saveWholeFile(const std::string& path, const std::string& content) {
  std::string temporary = path + ".~sv";
  deleteFile(temporary);
  FileHandle file;
  Status status = createNewFile(temporary, &file);
  if (!status.ok) return status;
  std::size_t written = 0;
  status = writeFile(file, content.data(), content.size(), &written);
  if (status.ok) status = flushFile(file);
  Status closed = closeFile(file);
  if (status.ok) status = closed;
  if (status.ok) status = replaceFile(temporary, path);
  if (!status.ok) deleteFile(temporary);
  return status;
}

}  // namespace platform
