// File services built from the per-system calls, the same on every system.
#include "platform/files.h"

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

}  // namespace platform
