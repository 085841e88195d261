// File services built from the per-system calls, the same on every system.
#include "platform/files.h"

#include <new>

#include "platform/aside_name.h"

namespace platform {

Status readToEnd(FileHandle file, std::string* content) {
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    Status status = readFile(file, block, sizeof block, &got);
    if (!status.ok) return status;
    if (got == 0) return Status::success();
    content->append(block, got);
  }
}

Status readWholeFile(const std::string& path, std::string* content) {
  content->clear();
  FileHandle file;
  Status opened = openFileForReading(path, &file);
  if (!opened.ok && opened.notFound) {
    // A save on the Windows 95 family that was cut short between renaming
    // the old file aside and renaming the new one into place leaves the old
    // content under the aside name only: it is still the file's content.
    std::string aside = asideNameOf(path);
    if (testPath(aside).ok && testPath(path).notFound && renameFile(aside, path).ok) {
      opened = openFileForReading(path, &file);
    }
  }
  if (!opened.ok) return opened;
  Status read;
  try {
    read = readToEnd(file, content);
  } catch (const std::bad_alloc&) {
    closeFile(file);
    throw;
  }
  closeFile(file);
  if (!read.ok) {
    content->clear();
    // The file is there: a failed read must never pass for a missing file,
    // which callers would replace.
    return Status::failure(read.systemError, false);
  }
  return Status::success();
}

}  // namespace platform
