// Locks held through files, which keep something to one process at a time:
// the product's lock, say, that a run holds while it works on the product.
//
// A lock lives as long as the open file that holds it. The system drops it
// when the file is closed (platform::closeFile) or the process ends, however
// it ends, so a process that is killed never leaves a lock behind; and a
// program the process starts does not inherit it.
#ifndef SRC_PLATFORM_FILE_LOCK_H_
#define SRC_PLATFORM_FILE_LOCK_H_

#include <string>

#include "platform/files.h"
#include "platform/status.h"

namespace platform {

// Opens the file at path, creating it empty when missing, and holds it so that
// no other lockFile of that file succeeds, in this process or another, until
// *file is closed. On Win32 the file is opened sharing nothing, which makes
// every other open of it fail too; the POSIX stand-in takes an exclusive
// flock, which only other locks see. When another holder has the file, fails
// with *heldElsewhere true; on every other failure (no access, a directory of
// that name, a missing directory on the way) *heldElsewhere is false.
Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere);

}  // namespace platform

#endif  // SRC_PLATFORM_FILE_LOCK_H_
