#include "engine/data_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/engine_fixture.h"
#include "support/expect_error.h"

namespace {

using DataFileTest = EngineTest;

// One group per platform kind, each carrying out an empty section.
const char kPerKindProfile[] =
    "[Patch]\r\nPatch=FIX12\r\n"
    "Condition0=MAIN,1,0,Version,Level,x\r\n"
    "Condition1=MAIN,2,0,Version,Level,x\r\n"
    "Condition2=MAIN,4,0,Version,Level,x\r\n"
    "\r\n[MAIN]\r\n; nothing to do\r\n";

const char kTwoPatchLedger[] =
    "[Version]\r\nLevel=2.0\r\n\r\n[Install]\r\nPatch0=OLD1\r\nPatch1=OLD2\r\n";

// One look-up of a patch in the ledger: whether it is installed, and the
// number a new record takes (-1 where the row does not care).
struct LedgerLookup {
  int kind;
  const char* rootLedger;
  const char* windowsLedger;
  const char* patch;
  bool installed;
  int nextPatch;
};

TEST_F(DataFileTest, LedgerLookupsFollowTheNumbersAndThePlatformKind) {
  const char kGap[] = "[Install]\r\nPatch0=OLD1\r\nPatch2=FIX12\r\n";
  const char kLonger[] = "[Install]\r\nPatch0=OLD1\r\nPatch1=fix12b\r\nPatch2=\r\n";
  const char kOne[] = "[Install]\r\nPatch0=OLD1\r\n";
  const char kDated[] = "[Install]\r\nPatch0=OLD1\r\nPatch1=FIX12 1997-03-01\r\n";
  const char kWindows[] = "[Install]\r\nPatch0=FIX11\r\n";
  const LedgerLookup rows[] = {
      // The ledger ends at the first missing number.
      {kPlatformWindows95, kGap, "", "FIX12", false, 1},
      {kPlatformWindows95, kGap, "", "old1", true, 0},
      // A value that begins with the patch counts unless a letter or digit
      // follows: that is another patch's name.
      {kPlatformWindows95, kLonger, "", "FIX12", false, 2},
      {kPlatformWindows95, kLonger, "", "FIX12B", true, 1},
      {kPlatformWindows95, kDated, "", "fix12", true, 1},
      {kPlatformWindows95, kLonger, "", "FIX12B2", false, 2},
      // NT records only in the Windows directory's copy, so a patch found
      // there is installed, and a new one takes the number free there.
      {kPlatformWindowsNt, kOne, kWindows, "FIX11", true, -1},
      {kPlatformWindowsNt, kOne, kWindows, "OLD1", true, -1},
      {kPlatformWindowsNt, kOne, kWindows, "FIX12", false, 1},
      {kPlatformWindows95, kOne, kWindows, "FIX11", false, -1},
  };
  for (const LedgerLookup& row : rows) {
    SCOPED_TRACE(std::to_string(row.kind) + " " + row.rootLedger + " " + row.patch);
    config.setPlatform(row.kind);
    // The rows without a Windows directory's copy come first, before there
    // is one.
    start("[Patch]\r\n", row.rootLedger, row.windowsLedger);
    int nextPatch = -1;
    EXPECT_EQ(row.installed, dataFile->isPatchInstalled(row.patch, &nextPatch));
    if (row.nextPatch >= 0) {
      EXPECT_EQ(row.nextPatch, nextPatch);
    }
  }
}

TEST_F(DataFileTest, WithoutPatchStringNothingIsRecorded) {
  start("[Patch]\r\nCondition0=MAIN,2,0,Version,Level,x\r\n[MAIN]\r\n", kTwoPatchLedger);
  dataFile->processProfile();
  dataFile->processProfile();
  EXPECT_FALSE(temp.exists("WIN/TAVRO.INI"));
  EXPECT_EQ(kTwoPatchLedger, read("ROOT/TAVRO.INI"));
}

TEST_F(DataFileTest, RunStartedAgainFollowsTheDecisionsOfTheRunItFinishes) {
  // The section raises the very level its condition asks for. A run cut off
  // before the ledger was written is started again: it must carry out the
  // same section, not end with "no condition holds".
  config.setPlatform(kPlatformWindowsNt);
  start(
      "[Patch]\r\nPatch=FIX12\r\nCondition0=UP,2,1,Version,Level,2.0\r\n"
      "Condition1=OTHER,2,1,Version,Level,2.1\r\n"
      "[UP]\r\nINI1=TAVRO,TAVRO.INI,Version,Level,2.1\r\nINI2=TAVRO,OUT.INI,Run,UP,1\r\n"
      "[OTHER]\r\nINI1=TAVRO,OUT.INI,Run,OTHER,1\r\n",
      "[Version]\r\nLevel=2.0\r\n");
  dataFile->createArchiveDirectories();
  dataFile->resumeJournal("FIX12");
  dataFile->processConditions();
  // Group 1 was decided after group 0's section had run, and holds.
  EXPECT_EQ("[Run]\r\nUP=1\r\nOTHER=1\r\n", read("ROOT/OUT.INI"));
  // The run is cut off here; the next one continues it.
  dataFile.reset();
  temp.write("ROOT/OUT.INI", "");
  dataFile = std::make_unique<DataFile>(temp.file("TVPAT32.DAT"), &config, messages.get());
  dataFile->processProfile();
  EXPECT_EQ("[Run]\r\nUP=1\r\nOTHER=1\r\n", read("ROOT/OUT.INI"));
  // Once the patch is in the ledger the journal goes.
  EXPECT_FALSE(temp.exists("ROOT/ARCHIVE/TVRUN.JNL"));
}

// A journal left by a run of another patch that was cut off after it wrote
// the ledger holds nothing unfinished: it goes, and the run goes on.
TEST_F(DataFileTest, JournalOfARecordedPatchIsRemoved) {
  config.setPlatform(kPlatformWindows95);
  start(kPerKindProfile, "[Version]\r\nLevel=2.0\r\n\r\n[Install]\r\nPatch0=FIX11\r\n");
  temp.write("ROOT/ARCHIVE/TVRUN.JNL",
             "TVPAT32 RUN JOURNAL 1\r\nPatch=FIX11\r\nProfile=0\r\nKind=1\r\nG\t1\tMAIN\r\n");
  dataFile->processProfile();
  EXPECT_FALSE(temp.exists("ROOT/ARCHIVE/TVRUN.JNL"));
  EXPECT_EQ("[Version]\r\nLevel=2.0\r\n\r\n[Install]\r\nPatch0=FIX11\r\nPatch1=FIX12\r\n",
            read("ROOT/TAVRO.INI"));
}

using DataFileEndTest = EngineTest;

TEST_F(DataFileEndTest, InstalledPatchEndsTheRun) {
  start(kPerKindProfile, "[Install]\r\nPatch0=FIX12\r\n");
  expectRunEnded("^\n\aM11\n$", [&] { dataFile->processProfile(); });
  config.setInteractive(0);
  expectRunEnded("^$", [&] { dataFile->processProfile(); });
}

TEST_F(DataFileEndTest, NoHoldingGroupEndsTheRunAndRecordsNothing) {
  start("[Patch]\r\nPatch=FIX12\r\nCondition0=MAIN,1,0,Version,Level,x\r\n[MAIN]\r\n");
  expectRunEnded("^\n\aM9\nM10\n$", [&] { dataFile->processProfile(); });
  start("[Other]\r\n");
  expectRunEnded("^\n\aM9\nM10\n$", [&] { dataFile->processProfile(); });
  EXPECT_FALSE(temp.exists("WIN/TAVRO.INI"));
}

// A profile behind a UTF-8 mark, or a machine without the product, ends the
// run with its real cause before anything is made.
TEST_F(DataFileEndTest, RunThatCannotApplyEndsBeforeItMakesAnything) {
  start(std::string("\xEF\xBB\xBF") + kPerKindProfile);
  expectRunEnded("^\n\aM18\n\t.*TVPAT32.DAT: begins with a UTF-8 byte-order mark\n$",
                 [&] { dataFile->processProfile(); });
  config.setRootDir("");
  start(kPerKindProfile);
  expectRunEnded("^\n\aM44\n$", [&] { dataFile->processProfile(); });
  EXPECT_FALSE(temp.exists("ROOT/ARCHIVE"));
}

TEST_F(DataFileEndTest, ArchiveThatCannotBeCreatedEndsTheRun) {
  config.setRootDir(temp.file("MISSING"));
  start(kPerKindProfile);
  expectRunEnded("^\n\aM12 .*MISSING.ARCHIVE\n$", [&] { dataFile->createArchiveDirectories(); });
}

}  // namespace
