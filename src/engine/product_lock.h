// ProductLock keeps runs on one product from overlapping. Two runs at once
// would back up each other's new files as the originals and lose each other's
// edits of an INI file both change, so a run holds the product's lock,
// ARCHIVE\TVLOCK in the product root, from before it reads the ledger to the
// end of its work. The DataFile of a run owns its ProductLock; the lock goes
// when the ProductLock is destroyed (at the start of the teardown, before a
// TAVRO.INI whose own save failed is tried once more), and with the process
// however the run ends.
#ifndef SRC_ENGINE_PRODUCT_LOCK_H_
#define SRC_ENGINE_PRODUCT_LOCK_H_

#include <string>

#include "platform/files.h"

class ProductLock {
 public:
  ProductLock();
  ~ProductLock();

  ProductLock(const ProductLock&) = delete;
  ProductLock& operator=(const ProductLock&) = delete;

  // Takes the lock of the product whose archive directory, which must exist,
  // is archiveDir. True when this object holds it, also when it held it
  // already; false when another run (or another ProductLock) holds it.
  // Raises Error 21 naming the lock file when it cannot be taken for any
  // other reason.
  bool take(const std::string& archiveDir);

  bool isHeld() const { return file.isOpen(); }

 private:
  platform::FileHandle file;
};

#endif  // SRC_ENGINE_PRODUCT_LOCK_H_
