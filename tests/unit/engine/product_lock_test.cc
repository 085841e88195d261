#include "engine/product_lock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "support/engine_fixture.h"
#include "support/expect_error.h"
#include "support/file_tree.h"

namespace {

using platform::testing::Call;
using ProductLockTest = EngineTest;

TEST_F(ProductLockTest, OneHolderAtATimeUntilItGoes) {
  std::filesystem::create_directories(temp.file("ROOT/ARCHIVE"));
  const std::string archive = inRoot("ARCHIVE");
  auto first = std::make_unique<ProductLock>();
  ASSERT_TRUE(first->take(archive));
  EXPECT_TRUE(first->take(archive));
  // A second open of the lock in this process is refused, as another
  // process's is.
  ProductLock second;
  EXPECT_FALSE(second.take(archive));
  EXPECT_FALSE(second.isHeld());
  first.reset();
  EXPECT_TRUE(second.take(archive));
}

TEST_F(ProductLockTest, LockThatCannotBeTakenIsACriticalErrorNamingIt) {
  std::filesystem::create_directories(temp.file("ROOT/ARCHIVE/TVLOCK"));
  const std::string archive = inRoot("ARCHIVE");
  ProductLock lock;
  expectError(kErrorCreate, archive + "\\TVLOCK", [&] { lock.take(archive); });
  std::filesystem::remove(temp.file("ROOT/ARCHIVE/TVLOCK"));
  hooks.fail(Call::kLockFile, EACCES);
  expectError(kErrorCreate, archive + "\\TVLOCK", [&] { lock.take(archive); });
  EXPECT_FALSE(lock.isHeld());
}

using ProductLockEndTest = EngineTest;

// A run on a product that another run holds reads and changes nothing: not
// the ledger (which would end it with message 11), not a step record that an
// earlier run left for the next one to finish.
TEST_F(ProductLockEndTest, BusyProductEndsTheRunBeforeItLooksAtTheProduct) {
  start("[Patch]\r\nPatch=FIX12\r\nCondition0=MAIN,2,0,Version,Level,x\r\n[MAIN]\r\n",
        "[Install]\r\nPatch0=FIX12\r\n");
  temp.write("ROOT/ARCHIVE/TEMP/TVSTEP.TXT", "cut short");
  ProductLock other;
  ASSERT_TRUE(other.take(inRoot("ARCHIVE")));
  const FileTree before = readTree(temp.getPath());
  for (int interactive : {1, 0}) {
    config.setInteractive(interactive);
    expectRunEnded("^\n\aM38\n$", [&] { dataFile->processProfile(); });
  }
  EXPECT_EQ(before, readTree(temp.getPath()));
}

}  // namespace
