// Interim forms of the durable-write services, replaced by the careful ones.
#include <windows.h>

#include "platform/files.h"
#include "platform/win32/win32_status.h"

namespace platform {

Status flushFile(FileHandle file) {
  if (!FlushFileBuffers(reinterpret_cast<HANDLE>(file.value))) return lastErrorStatus();
  return Status::success();
}

Status linkFile(const std::string&, const std::string&) {
  return Status::failure(ERROR_CALL_NOT_IMPLEMENTED, false);
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
