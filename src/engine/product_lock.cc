#include "engine/product_lock.h"

#include "base/error.h"
#include "path/path_name.h"
#include "platform/file_lock.h"

namespace {

// An 8.3 name, which every file system the program meets can hold. The file
// stays, empty, after the run: removing it as the lock goes would let a run
// waiting to open the old file and one creating a new one both hold "the"
// lock.
const char kLockName[] = "TVLOCK";

}  // namespace

ProductLock::ProductLock() : file() {}

ProductLock::~ProductLock() {
  // Closing the file is what gives the lock up. A close that reports an
  // error has closed it all the same, and the system drops the lock with the
  // process at the latest, so there is nothing to do about one.
  if (file.isOpen()) platform::closeFile(file);
}

bool ProductLock::take(const std::string& archiveDir) {
  if (file.isOpen()) return true;
  std::string path = pathJoin(archiveDir, kLockName);
  bool heldElsewhere = false;
  if (platform::lockFile(path, &file, &heldElsewhere).ok) return true;
  if (heldElsewhere) return false;
  throw Error(kErrorCreate, path, kModuleEngine, __LINE__);
}
