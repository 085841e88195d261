#include "fileops/run_journal.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

using Standing = RunJournal::Standing;

const RunJournal::Identity kRun = {"FIX12", "0123456789abcdef", 2};

class RunJournalTest : public ::testing::Test {
 protected:
  std::string path() const { return dir.file("TVRUN.JNL"); }

  // A journal as an earlier run of kRun left it, with `records` after the
  // identity.
  std::string leave(const std::string& records) {
    const std::string text =
        "TVPAT32 RUN JOURNAL 1\r\nPatch=FIX12\r\nProfile=0123456789abcdef\r\nKind=2\r\n" + records;
    dir.write("TVRUN.JNL", text);
    return text;
  }

  TempDir dir;
};

TEST_F(RunJournalTest, AJournalBelongsToOneRunOnly) {
  const struct {
    RunJournal::Identity identity;
    Standing standing;
  } rows[] = {
      {kRun, Standing::kSame},
      {{"FIX12", "0123456789abcdef", 1}, Standing::kOtherKind},
      {{"FIX13", "0123456789abcdef", 2}, Standing::kOtherPatch},
      {{"FIX12", "fedcba9876543210", 2}, Standing::kOtherProfile},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.standing));
    const std::string left = leave("G\t1\tUpdate\r\n");
    RunJournal journal(path());
    EXPECT_EQ(row.standing, journal.read(row.identity));
    EXPECT_EQ("FIX12", journal.getFoundIdentity().patch);
    // Another run's journal is never written to or removed by this one's
    // records.
    if (row.standing != Standing::kSame) {
      EXPECT_FALSE(journal.recordDecision(std::nullopt));
      EXPECT_EQ(dir.read("TVRUN.JNL"), left);
    }
  }

  // Cut off before its identity was whole: nothing to finish, and gone.
  dir.write("TVRUN.JNL", "TVPAT32 RUN JOURNAL 1\r\nPatch=FIX12\r\nProf");
  RunJournal journal(path());
  EXPECT_EQ(Standing::kNone, journal.read(kRun));
  EXPECT_FALSE(dir.exists("TVRUN.JNL"));
}

// Records are read up to the last whole line; a record cut short is not
// read, and the next run's first record starts on a line of its own.
TEST_F(RunJournalTest, ARecordCutShortIsLeftOutAndWrittenPast) {
  leave(
      "G\t1\tUpdate\r\nR\tC:\\P\\TV0a.b\tC:\\P\\A.DLL\tC:\\P\\A.OLD\r\nD\r\nG\t0\t\r\nR\tC:"
      "\\P\\TV0");
  RunJournal journal(path());
  ASSERT_EQ(Standing::kSame, journal.read(kRun));
  ASSERT_EQ(2u, journal.getDecisions().size());
  EXPECT_EQ("Update", journal.getDecisions()[0].value_or(""));
  EXPECT_FALSE(journal.getDecisions()[1].has_value());
  EXPECT_FALSE(journal.getUnfinishedReplacement().has_value());

  EXPECT_TRUE(journal.beginReplacement({"C:\\P\\TV0c.d", "C:\\P\\B.DLL", "C:\\P\\B.OLD"}));
  RunJournal next(path());
  ASSERT_EQ(Standing::kSame, next.read(kRun));
  ASSERT_TRUE(next.getUnfinishedReplacement().has_value());
  EXPECT_EQ("C:\\P\\B.DLL", next.getUnfinishedReplacement()->destPath);

  next.end();
  EXPECT_FALSE(dir.exists("TVRUN.JNL"));
}

// A fill-in is a whole-file save: cut off, it either happened, and the file
// is no longer what the journal saw before, or it did not.
TEST_F(RunJournalTest, AFillInCutOffCountsWhereTheFileChanged) {
  const std::string help = dir.file("HELP.INI");
  writeStampedFile(help, "help=\\TAVRO\\HELP\r\n", makeDosStamp(2001));
  platform::FileInfo before;
  ASSERT_TRUE(platform::getFileInfo(help, &before).ok);
  {
    RunJournal journal(path());
    journal.read(kRun);
    ASSERT_TRUE(journal.beginFillIn(help, before));
    EXPECT_FALSE(journal.isFilledIn(help));
  }
  RunJournal cut(path());
  cut.read(kRun);
  EXPECT_FALSE(cut.isFilledIn(help));
  writeStampedFile(help, "help=C:\\TAVRO\\HELP\r\n", makeDosStamp(2001));
  EXPECT_TRUE(cut.isFilledIn(help));
  EXPECT_FALSE(cut.isFilledIn(dir.file("OTHER.INI")));
}

// Undo steps hold any text (an INI section's lines, registry bytes) and are
// read back by any later run, the run that rolls them back included; the
// rollback's mark is read too, and the end removes the old files kept aside,
// and no other.
TEST_F(RunJournalTest, UndoStepsComeBackWholeAndTheEndRemovesWhatTheyKept) {
  using Step = RunJournal::UndoStep;
  Step value;
  value.kind = Step::kRegistryValue;
  value.path = "Software\\Tavro";
  value.other = "Bytes";
  value.key = "HKCU";
  value.present = true;
  value.value = std::string("a\tb\r\nc%41\0d", 11);
  value.type = 3;
  value.size = 18446744073709551615u;
  Step kept;
  kept.kind = Step::kKeptAside;
  kept.path = dir.file("C.TXT");
  kept.other = dir.file("TV000001.~KP");
  dir.write("TV000001.~KP", "c");
  dir.write("C.TXT", "other");
  // A record damaged on disk that names some other file as kept aside.
  Step stray = kept;
  stray.other = dir.file("C.TXT");
  {
    RunJournal journal(path());
    journal.read(kRun);
    ASSERT_TRUE(journal.recordUndo({value, kept, stray}));
  }
  dir.write("TVRUN.JNL", dir.read("TVRUN.JNL").value_or("") + "U\tI\tbad%G1\t\t\t0\t\t0\t0\t0\r\n");

  RunJournal other(path());
  ASSERT_EQ(Standing::kOtherPatch, other.read({"FIX13", "", 2}));
  EXPECT_FALSE(other.isRollingBack());
  ASSERT_EQ(3u, other.getUndoSteps().size());
  const Step& read = other.getUndoSteps()[0];
  EXPECT_EQ(value.value, read.value);
  EXPECT_EQ(value.path, read.path);
  EXPECT_TRUE(read.present);
  EXPECT_EQ(value.size, read.size);
  EXPECT_EQ(3u, read.type);
  ASSERT_TRUE(other.beginRollback());

  RunJournal again(path());
  again.read({"FIX13", "", 2});
  EXPECT_TRUE(again.isRollingBack());
  again.end();
  EXPECT_FALSE(dir.exists("TVRUN.JNL"));
  EXPECT_FALSE(dir.exists("TV000001.~KP"));
  EXPECT_TRUE(dir.exists("C.TXT"));
}

}  // namespace
