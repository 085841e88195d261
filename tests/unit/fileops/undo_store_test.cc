#include "fileops/undo_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using UndoStep = RunJournal::UndoStep;

const RunJournal::Identity kRun = {"FIX12", "0123456789abcdef", 2};

UndoStep fileStep(UndoStep::Kind kind, const std::string& path, const std::string& other = "") {
  UndoStep step;
  step.kind = kind;
  step.path = path;
  step.other = other;
  return step;
}

UndoStep iniStep(const std::string& key, const std::string& value) {
  UndoStep step;
  step.kind = UndoStep::kIniValue;
  step.path = "C:\\P\\TAVRO.INI";
  step.other = "Version";
  step.key = key;
  step.present = true;
  step.value = value;
  return step;
}

// "K PATH<-WHERE" or "N PATH", and "I KEY=VALUE", for comparing at a glance.
std::vector<std::string> shown(const std::vector<UndoStep>& steps) {
  std::vector<std::string> lines;
  for (const UndoStep& step : steps) {
    if (step.kind == UndoStep::kIniValue) {
      lines.push_back("I " + step.key + "=" + step.value);
    } else {
      lines.push_back(std::string(1, static_cast<char>(step.kind)) + " " + step.path +
                      (step.other.empty() ? "" : "<-" + step.other));
    }
  }
  return lines;
}

// The first step that names a file, an INI key or a registry value says what
// was there before the run; the run's own names are no part of it.
TEST(UndoStoreTest, NetUndoKeepsWhatWasThereFirst) {
  const std::vector<UndoStep> steps = {
      // A backup: the installed file goes to B.OLD, a new one takes its name.
      fileStep(UndoStep::kCreated, "C:\\P\\BIN\\TV0a.b1c"),
      fileStep(UndoStep::kRenamed, "C:\\P\\BIN\\B.EXE", "C:\\P\\BIN\\B.OLD"),
      fileStep(UndoStep::kPlaced, "C:\\P\\BIN\\B.EXE", "C:\\P\\BIN\\TV0a.b1c"),
      // An erased file, moved aside; later steps on its name change nothing.
      fileStep(UndoStep::kKeptAside, "C:\\P\\A.DLL", "C:\\P\\TV0a1b2c.~KP"),
      fileStep(UndoStep::kPlaced, "C:\\P\\A.DLL", "C:\\P\\TV0b.b1c"),
      // A rename into a free name, and a step put off to the restart.
      fileStep(UndoStep::kRenamed, "C:\\P\\OLD.EXE", "C:\\P\\NEW.EXE"),
      fileStep(UndoStep::kDeferred, "C:\\P\\ARCHIVE\\TEMP\\TV00.abc", "C:\\P\\CORE.DLL"),
      iniStep("Level", "2.0"),
      iniStep("Level", "2.1"),
  };
  EXPECT_EQ(
      (std::vector<std::string>{
          "K C:\\P\\A.DLL<-C:\\P\\TV0a1b2c.~KP", "K C:\\P\\BIN\\B.EXE<-C:\\P\\BIN\\B.OLD",
          "N C:\\P\\BIN\\B.OLD<-C:\\P\\BIN\\B.EXE", "K C:\\P\\CORE.DLL<-C:\\P\\CORE.DLL",
          "N C:\\P\\NEW.EXE<-C:\\P\\OLD.EXE", "K C:\\P\\OLD.EXE<-C:\\P\\NEW.EXE", "I Level=2.0"}),
      shown(UndoStore::getNetUndo(steps, "C:\\P\\ARCHIVE\\TEMP")));
}

// Kept, the undo holds a copy of every original, found where the run moved
// it (or, when it is not there, wherever the run put a file of its size and
// time), and reads back as a journal of the patch; discarded, none of it is
// left.
TEST(UndoStoreTest, KeepCopiesTheOriginalsAndDiscardLeavesNothing) {
  TempDir dir;
  dir.write("P/BIN/B.OLD", "installed B");
  dir.write("P/TV0a1b2c.~KP", "erased A");
  dir.write("P/CORE.DLL", "core in use");
  ASSERT_TRUE(platform::makeDirectory(dir.file("P/ARCHIVE")).ok);
  platform::FileInfo moved;
  ASSERT_TRUE(platform::getFileInfo(dir.file("P/BIN/B.OLD"), &moved).ok);
  UndoStep backup = fileStep(UndoStep::kRenamed, dir.file("P/BIN/B.EXE"), dir.file("P/B.GONE"));
  backup.size = moved.size;
  backup.time = moved.modifiedTime;
  const std::vector<UndoStep> steps = {
      backup,
      fileStep(UndoStep::kRenamed, dir.file("P/B.GONE"), dir.file("P/BIN/B.OLD")),
      fileStep(UndoStep::kRewritten, dir.file("P/A.DLL"), dir.file("P/TV0a1b2c.~KP")),
      fileStep(UndoStep::kDeferred, dir.file("P/ARCHIVE/TEMP/TV00.abc"), dir.file("P/CORE.DLL")),
      fileStep(UndoStep::kDeferred, dir.file("P/GONE.DLL")),
  };
  UndoStore store(dir.file("P/ARCHIVE"));
  ASSERT_TRUE(store.keep(kRun, steps, dir.file("P/ARCHIVE/TEMP")));
  ASSERT_TRUE(store.keep(kRun, steps, dir.file("P/ARCHIVE/TEMP")));

  RunJournal record(store.getRecordPath("fix12"));
  EXPECT_EQ(RunJournal::Standing::kSame, record.read(kRun));
  // A.DLL, B.GONE, BIN\B.EXE, BIN\B.OLD, CORE.DLL, GONE.DLL.
  std::vector<std::string> originals;
  for (const UndoStep& step : record.getUndoSteps()) {
    std::string copy = "(none)";
    if (step.kind == UndoStep::kKeptAside) platform::readFileAsIs(step.other, &copy);
    originals.push_back(copy);
  }
  EXPECT_EQ((std::vector<std::string>{"erased A", "(none)", "installed B", "(none)", "core in use",
                                      "(none)"}),
            originals);

  store.discard("FIX12");
  EXPECT_TRUE(platform::testPath(store.getRecordPath("FIX12")).notFound);
  EXPECT_TRUE(platform::testPath(store.getCopyDir("FIX12")).notFound);
}

}  // namespace
