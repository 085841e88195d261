#include "fileops/file_install.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "fileops/run_journal.h"
#include "fileops/substitute_class.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/environment_guard.h"
#include "support/expect_error.h"
#include "support/fault_hooks.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

using platform::DosStamp;
using platform::testing::Call;

const DosStamp kOld = makeDosStamp(1996, 3, 1, 10, 0, 0);
const DosStamp kMid = makeDosStamp(1997, 6, 15, 12, 30, 10);
const DosStamp kNew = makeDosStamp(1997, 6, 15, 12, 30, 12);

class FileInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment.set("TZ", "UTC");
    root = dir.getPath();
    dir.write("win/.keep", "");
    dir.write("dest/.keep", "");
    dir.write("temp/.keep", "");
    dir.write("src/.keep", "");
    config.setWindowsDir(path("win"));
    config.setPlatform(kPlatformWindows95);
    tempDir = path("temp");
    // The restart queue lives in the Windows directory the system reports.
    environment.set("WINDIR", path("win"));
  }

  // The Windows form of a path in the test directory.
  std::string path(const std::string& relative) const {
    std::string tail = relative;
    for (char& c : tail) {
      if (c == '/') c = '\\';
    }
    return root + "\\" + tail;
  }

  // The 8.3 form of a path in the test directory, by which WININIT.INI names
  // it; every name below the directory is an 8.3 name already.
  std::string shortPath(const std::string& relative) const {
    std::string shortRoot;
    EXPECT_TRUE(platform::getShortPath(root, &shortRoot).ok);
    return shortRoot + path(relative).substr(root.size());
  }

  void put(const std::string& relative, const std::string& content, DosStamp stamp) {
    writeStampedFile(path(relative), content, stamp);
  }

  std::string read(const std::string& relative) { return dir.read(relative).value_or("<none>"); }

  // The file at `relative` is in use: it can be read, but not renamed,
  // deleted or replaced.
  void lock(const std::string& relative) {
    hooks.fail({Call::kRenameFile, Call::kReplaceFile, Call::kDeleteFile}, EBUSY, path(relative));
  }

  // The names in a directory, as listed.
  std::vector<std::string> names(const std::string& relative) {
    std::vector<platform::DirectoryEntry> entries;
    EXPECT_TRUE(platform::listDirectory(path(relative), &entries).ok);
    std::vector<std::string> result;
    for (const platform::DirectoryEntry& entry : entries) result.push_back(entry.name);
    return result;
  }

  int copy(int force, int backup, const char* temp) {
    return copyFileByPath(path("src/NEWDRV.DLL"), path("dest/NEWDRV.DLL"), temp, &config, force,
                          backup);
  }

  // The name the first free temporary name takes in an empty directory.
  std::string firstTemporaryName() const {
    const char* digits = "0123456789abcdefghijklmnopqrstuv";
    unsigned long pid = platform::getProcessId();
    return std::string("TV0") + digits[(pid >> 15) & 31] + "." + digits[(pid >> 10) & 31] +
           digits[(pid >> 5) & 31] + digits[pid & 31];
  }

  EnvironmentGuard environment;
  TempDir dir;
  std::string root;
  std::string tempDir;
  ConfigData config;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

// One copy of src/NEWDRV.DLL (dated kMid) over dest/NEWDRV.DLL: what is
// there before, and what the copy reports and leaves.
struct CopyOutcome {
  const char* before;  // null: no destination
  DosStamp beforeStamp;
  int force;
  int result;
  const char* after;
  const char* backup;  // null: no backup made
};

TEST_F(FileInstallTest, CopyOutcomeFollowsTheStampsAndForce) {
  const std::string content(10000, 'n');
  const CopyOutcome rows[] = {
      {nullptr, kMid, 0, kCopyCreated, content.c_str(), nullptr},
      {"same", kMid, 0, kCopySameStamp, "same", nullptr},
      {"newer", kNew, 0, kCopyTargetNewer, "newer", nullptr},
      {"newer", kNew, 1, kCopyOverNewer, content.c_str(), "newer"},
      // Forced over a file of the same stamp, it counts as older.
      {"same", kMid, 1, kCopyOverOlder, content.c_str(), "same"},
  };
  put("src/NEWDRV.DLL", content, kMid);
  for (const CopyOutcome& row : rows) {
    SCOPED_TRACE(row.result);
    platform::deleteFile(path("dest/NEWDRV.DLL"));
    platform::deleteFile(path("dest/NEWDRV.OLD"));
    if (row.before != nullptr) put("dest/NEWDRV.DLL", row.before, row.beforeStamp);
    EXPECT_EQ(row.result, copy(row.force, 1, tempDir.c_str()));
    EXPECT_EQ(row.after, read("dest/NEWDRV.DLL"));
    EXPECT_EQ(row.backup != nullptr ? row.backup : "<none>", read("dest/NEWDRV.OLD"));
    if (row.after == content.c_str()) {
      EXPECT_EQ(stampValue(kMid), readStampValue(path("dest/NEWDRV.DLL")));
    }
    EXPECT_FALSE(dir.exists("win/WININIT.INI"));
    EXPECT_EQ(0, config.getDeferred());
  }
}

TEST_F(FileInstallTest, OlderDestinationReplacesAnEarlierBackup) {
  // A copy and a move alike make the new backup in place of the earlier one.
  const std::function<int()> steps[] = {
      [&] { return copy(0, 1, tempDir.c_str()); },
      [&] {
        moveFileByPath(path("src/NEWDRV.DLL"), path("dest/NEWDRV.DLL"), &config, 0, 1);
        return kCopyOverOlder;
      },
  };
  for (const std::function<int()>& step : steps) {
    put("src/NEWDRV.DLL", "new", kNew);
    put("dest/NEWDRV.DLL", "old", kMid);
    put("dest/NEWDRV.OLD", "ancient", kOld);
    EXPECT_EQ(kCopyOverOlder, step());
    EXPECT_EQ("new", read("dest/NEWDRV.DLL"));
    EXPECT_EQ("old", read("dest/NEWDRV.OLD"));
    EXPECT_FALSE(dir.exists("win/WININIT.INI"));
    EXPECT_EQ(0, config.getDeferred());
  }
  EXPECT_FALSE(dir.exists("src/NEWDRV.DLL"));
}

TEST_F(FileInstallTest, DestinationThatCannotBeReplacedNowWaitsForTheRestartInOrder) {
  // The exact steps a restart carries out: the backup first, then the
  // replacement by the whole copy in the temporary directory; WININIT.INI on
  // the Windows 95 family, MoveFileExA with flags 7 on NT.
  struct DeferredCase {
    const char* name;
    int platform;
    int backup;
    bool inUse;     // else only the missing backup keeps the file in place
    bool readable;  // held without sharing: counts as absent for the result
    int result;
  };
  const DeferredCase cases[] = {
      {"in use, with backup, 95", kPlatformWindows95, 1, true, true, kCopyOverOlder},
      {"in use, with backup, NT", kPlatformWindowsNt, 1, true, true, kCopyOverOlder},
      {"not backed up, 95", kPlatformWindows95, 0, false, true, kCopyOverOlder},
      {"held unreadable, with backup, 95", kPlatformWindows95, 1, true, false, kCopyCreated},
  };
  for (const DeferredCase& deferred : cases) {
    SCOPED_TRACE(deferred.name);
    hooks.clear();
    platform::deleteFile(path("win/WININIT.INI"));
    platform::deleteFile(path("win/PENDMOVE.TXT"));
    for (const std::string& name : names("temp")) {
      if (name != ".keep") platform::deleteFile(path("temp/" + name));
    }
    config.setDeferred(0);
    config.setPlatform(deferred.platform);
    put("src/NEWDRV.DLL", "new", kNew);
    put("dest/NEWDRV.DLL", "old", kMid);
    std::vector<Call> refused;
    if (deferred.inUse) refused = {Call::kRenameFile, Call::kReplaceFile, Call::kDeleteFile};
    if (!deferred.readable) refused.push_back(Call::kOpenFileForReading);
    if (!refused.empty()) hooks.fail(refused, EBUSY, path("dest/NEWDRV.DLL"));

    EXPECT_EQ(deferred.result, copy(0, deferred.backup, tempDir.c_str()));
    // MoveFileExA takes long names; WININIT.EXE only 8.3 names.
    const auto named = [&](const std::string& relative) {
      return deferred.platform == kPlatformWindows95 ? shortPath(relative) : path(relative);
    };
    const std::string dest = named("dest\\NEWDRV.DLL");
    const std::string temp = named("temp\\" + firstTemporaryName());
    std::vector<std::pair<std::string, std::string>> steps;  // {destination, source}
    if (deferred.backup != 0) steps.emplace_back(named("dest\\NEWDRV.OLD"), dest);
    steps.emplace_back(dest, temp);
    if (deferred.platform == kPlatformWindows95) {
      std::string expected = "[rename]\r\n";
      for (const auto& step : steps) expected += step.first + "=" + step.second + "\r\n";
      EXPECT_EQ(expected, read("win/WININIT.INI"));
    } else {
      std::string expected;
      for (const auto& step : steps) expected += "7\t" + step.second + "\t" + step.first + "\n";
      EXPECT_EQ(expected, read("win/PENDMOVE.TXT"));
    }
    EXPECT_EQ("old", read("dest/NEWDRV.DLL"));
    EXPECT_EQ("new", read("temp/" + firstTemporaryName()));
    EXPECT_EQ(1, config.getDeferred());
  }
}

TEST_F(FileInstallTest, InUseDestinationWhoseCopyForTheRestartFailsDefersNothing) {
  // The copy that would wait for the restart cannot be written: nothing of
  // the entry is put off, not even the backup, and the old file stays.
  put("src/NEWDRV.DLL", "new", kNew);
  put("dest/NEWDRV.DLL", "old", kMid);
  std::string locked = path("dest/NEWDRV.DLL");
  std::string temp = path("temp/");
  hooks.set([locked, temp](Call call, const std::string& target) {
    bool busy =
        (call == Call::kRenameFile || call == Call::kReplaceFile || call == Call::kDeleteFile) &&
        isSamePath(target, locked);
    bool full = call == Call::kWriteFile && isSamePath(target.substr(0, temp.size()), temp);
    return busy || full ? ENOSPC : 0;
  });
  expectError(kErrorWrite, path("temp\\" + firstTemporaryName()),
              [&] { copy(0, 1, tempDir.c_str()); });
  EXPECT_FALSE(dir.exists("win/WININIT.INI"));
  EXPECT_EQ(0, config.getDeferred());
  EXPECT_EQ("old", read("dest/NEWDRV.DLL"));
  EXPECT_EQ((std::vector<std::string>{".keep"}), names("temp"));
  EXPECT_EQ((std::vector<std::string>{".keep", "NEWDRV.DLL"}), names("dest"));
}

TEST_F(FileInstallTest, Win32sRegistersNothingButSetsTheFlag) {
  config.setPlatform(kPlatformWin32s);
  put("src/NEWDRV.DLL", "new", kMid);
  put("dest/NEWDRV.DLL", "newer", kNew);
  lock("dest/NEWDRV.DLL");
  EXPECT_EQ(kCopyOverNewer, copy(1, 1, tempDir.c_str()));
  EXPECT_FALSE(dir.exists("win/WININIT.INI"));
  EXPECT_EQ(1, config.getDeferred());
}

TEST_F(FileInstallTest, TemporaryNamesAreTriedInOrderAndNeverReused) {
  std::string first = firstTemporaryName();
  std::string found;
  ASSERT_TRUE(makeTemporaryPath(tempDir, &found));
  EXPECT_EQ(path("temp\\" + first), found);
  std::string candidates = "0abcdefghijklmnopqrstuvwxyz";
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    std::string name = first;
    name[2] = candidates[i];
    ASSERT_TRUE(makeTemporaryPath(tempDir, &found));
    EXPECT_EQ(path("temp\\" + name), found);
    dir.write("temp/" + name, "taken");
  }
  EXPECT_FALSE(makeTemporaryPath(tempDir, &found));

  // With every name taken the copy fails rather than overwrite one.
  put("src/NEWDRV.DLL", "new", kNew);
  put("dest/NEWDRV.DLL", "old", kMid);
  expectError(kErrorCreate, path("dest/NEWDRV.DLL"), [&] { copy(0, 0, tempDir.c_str()); });
  EXPECT_EQ("taken", read("temp/" + first));
  EXPECT_EQ(0, config.getDeferred());
}

TEST_F(FileInstallTest, ACopyPassesOverTemporaryNamesThatAreTaken) {
  std::string first = firstTemporaryName();
  std::string second = first;
  second[2] = 'A';  // the second candidate, in another case
  dir.write("dest/" + first, "taken");
  dir.write("dest/" + second, "taken too");
  put("src/NEWDRV.DLL", "new", kNew);
  EXPECT_EQ(kCopyCreated, copy(0, 0, tempDir.c_str()));
  EXPECT_EQ("new", read("dest/NEWDRV.DLL"));
  EXPECT_EQ("taken", read("dest/" + first));
  EXPECT_EQ("taken too", read("dest/" + second));
  EXPECT_EQ(4u, names("dest").size());
}

struct FailureCase {
  Call call;
  const char* failingFile;  // relative path the hook fails on
  int expectedError;
  const char* reportedFile;
  bool withTempDir;
};

TEST_F(FileInstallTest, CopyFailuresRaiseTheirErrors) {
  const FailureCase cases[] = {
      {Call::kOpenFileForReading, "src/NEWDRV.DLL", kErrorSourceOpen, "src/NEWDRV.DLL", true},
      {Call::kGetFileStamp, "src/NEWDRV.DLL", kErrorStampRead, "src/NEWDRV.DLL", true},
      {Call::kGetFileStamp, "dest/NEWDRV.DLL", kErrorStampRead, "dest/NEWDRV.DLL", true},
      {Call::kCreateNewFile, "dest/TV", kErrorCreate, "dest/NEWDRV.DLL", false},
      {Call::kReadFile, "src/NEWDRV.DLL", kErrorSourceRead, "src/NEWDRV.DLL", true},
      {Call::kWriteFile, "dest/TV", kErrorWrite, "dest/NEWDRV.DLL", true},
      {Call::kSetFileStamp, "dest/TV", kErrorStampSet, "dest/NEWDRV.DLL", true},
      {Call::kFlushFile, "dest/TV", kErrorWrite, "dest/NEWDRV.DLL", true},
      {Call::kCloseFile, "dest/TV", kErrorWrite, "dest/NEWDRV.DLL", true},
  };
  for (const FailureCase& failure : cases) {
    SCOPED_TRACE(failure.expectedError);
    put("src/NEWDRV.DLL", "new", kNew);
    put("dest/NEWDRV.DLL", "old", kMid);
    // The new file is written beside the destination under a temporary name.
    hooks.fail(failure.call, ENOSPC, path(failure.failingFile));
    std::optional<Error> error =
        expectError(failure.expectedError, path(failure.reportedFile),
                    [&] { copy(0, 1, failure.withTempDir ? tempDir.c_str() : nullptr); });
    if (error) {
      EXPECT_EQ(kModuleFileOps, error->getSourceFile());
    }
    hooks.clear();
    // Nothing half written is left, and the destination is as it was.
    EXPECT_EQ("old", read("dest/NEWDRV.DLL"));
    EXPECT_FALSE(dir.exists("dest/NEWDRV.OLD"));
    EXPECT_EQ((std::vector<std::string>{".keep", "NEWDRV.DLL"}), names("dest"));
    EXPECT_FALSE(dir.exists("win/WININIT.INI"));
  }
}

TEST_F(FileInstallTest, MemoryThatRunsOutForAFillInLeavesNoCopyBehind) {
  // The file there is not backed up, so the copy is made for the restart.
  SubstituteClass substitutes('\\');
  put("src/NEWDRV.DLL", "new", kNew);
  put("dest/NEWDRV.DLL", "old", kMid);
  hooks.refuseMemory(kModuleFileOps);
  std::optional<Error> error = expectError(kErrorNoMemory, "", [&] {
    copyFileByPath(path("src/NEWDRV.DLL"), path("dest/NEWDRV.DLL"), tempDir.c_str(), &config, 0, 0,
                   &substitutes);
  });
  if (error) {
    EXPECT_EQ(3u, error->getSize());
  }
  EXPECT_EQ("old", read("dest/NEWDRV.DLL"));
  EXPECT_EQ((std::vector<std::string>{".keep"}), names("temp"));
}

// The backup of a replacement is a rename that frees the destination's name
// for a moment. The step is in the journal before it starts; a step that
// cannot be recorded, or put off for want of room, changes nothing; and where
// neither file can take the name back, the new one stays for the next run.
TEST_F(FileInstallTest, ABackedUpReplacementIsJournaledAndNeverEmptiesTheName) {
  RunJournal journal(path("JOURNAL.TXT"));
  ASSERT_EQ(RunJournal::Standing::kNone, journal.read({"FIX12", "digest", kPlatformWindows95}));
  config.setJournal(&journal);
  put("src/NEWDRV.DLL", "new", kNew);
  put("dest/NEWDRV.DLL", "old", kMid);
  put("dest/NEWDRV.OLD", "ancient", kOld);

  // No journal and no room for the copy that would wait for the restart.
  hooks.set([&](Call call, const std::string& file) {
    const bool inTemp = file.compare(0, tempDir.size(), tempDir) == 0;
    return call == Call::kOpenFileForAppending || (call == Call::kCreateNewFile && inTemp) ? ENOSPC
                                                                                           : 0;
  });
  EXPECT_THROW(copy(0, 1, tempDir.c_str()), Error);
  hooks.clear();
  EXPECT_EQ("old", read("dest/NEWDRV.DLL"));
  EXPECT_EQ("ancient", read("dest/NEWDRV.OLD"));
  EXPECT_EQ((std::vector<std::string>{".keep", "NEWDRV.DLL", "NEWDRV.OLD"}), names("dest"));

  // The new file cannot take the name, and the old one cannot go back.
  int renames = 0;
  hooks.set([&](Call call, const std::string&) {
    // The first two renames (the earlier backup moved aside and the
    // backup, each asked about its source and its target) go; every one
    // after them fails.
    return call == Call::kRenameFile && ++renames > 4 ? EACCES : 0;
  });
  expectError(kErrorCreate, path("dest/NEWDRV.DLL"), [&] { copy(0, 1, tempDir.c_str()); });
  hooks.clear();
  EXPECT_FALSE(dir.exists("dest/NEWDRV.DLL"));
  EXPECT_EQ("old", read("dest/NEWDRV.OLD"));

  // The next run finds the step in the journal and finishes it.
  RunJournal next(path("JOURNAL.TXT"));
  ASSERT_EQ(RunJournal::Standing::kSame, next.read({"FIX12", "digest", kPlatformWindows95}));
  const std::optional<RunJournal::Replacement>& step = next.getUnfinishedReplacement();
  ASSERT_TRUE(step.has_value());
  EXPECT_EQ("new", read("dest/" + step->stagedPath.substr(step->stagedPath.rfind('\\') + 1)));
  EXPECT_TRUE(finishReplacement(step->stagedPath, step->destPath, step->backupPath));
  // The end of the run removes the earlier backup, kept aside until then.
  next.end();
  EXPECT_EQ((std::vector<std::string>{".keep", "NEWDRV.DLL", "NEWDRV.OLD"}), names("dest"));
  EXPECT_EQ("new", read("dest/NEWDRV.DLL"));
  EXPECT_EQ("old", read("dest/NEWDRV.OLD"));
}

// A replacement cut off anywhere is finished from what is on disk: the
// backup made where it is missing, the new file given the name where it is
// free; one cut off before the earlier backup went is dropped, and a new file
// that still cannot take the name stays.
TEST_F(FileInstallTest, AnInterruptedReplacementIsFinishedFromWhatIsOnDisk) {
  const struct {
    const char* name;
    const char* dest;    // null: absent
    const char* backup;  // null: absent
    bool renameFails;
    bool finished;
    const char* destAfter;
    const char* backupAfter;
    bool stagedStays;
  } rows[] = {
      {"cut before the backup rename", "old", nullptr, false, true, "new", "old", false},
      {"cut after the backup rename", nullptr, "old", false, true, "new", "old", false},
      {"cut before the earlier backup went", "old", "ancient", false, true, "old", "ancient",
       false},
      {"the name still cannot be taken", nullptr, "old", true, false, nullptr, "old", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* name : {"dest/NEWDRV.DLL", "dest/NEWDRV.OLD", "dest/TV0X.NEW"}) {
      platform::deleteFile(path(name));
    }
    put("dest/TV0X.NEW", "new", kNew);
    if (row.dest != nullptr) put("dest/NEWDRV.DLL", row.dest, kMid);
    if (row.backup != nullptr) put("dest/NEWDRV.OLD", row.backup, kMid);
    if (row.renameFails) hooks.fail(Call::kRenameFile, EACCES, path("dest/TV0X.NEW"));
    EXPECT_EQ(row.finished, finishReplacement(path("dest/TV0X.NEW"), path("dest/NEWDRV.DLL"),
                                              path("dest/NEWDRV.OLD")));
    hooks.clear();
    EXPECT_EQ(row.destAfter != nullptr ? row.destAfter : "<none>", read("dest/NEWDRV.DLL"));
    EXPECT_EQ(row.backupAfter, read("dest/NEWDRV.OLD"));
    EXPECT_EQ(row.stagedStays, dir.exists("dest/TV0X.NEW"));
  }
}

TEST_F(FileInstallTest, WithoutConfigurationFailuresAreErrorsNotDeferrals) {
  put("src/A.DLL", "a", kMid);
  put("dest/A.DLL", "b", kMid);
  lock("dest/A.DLL");
  expectError(kErrorErase, path("dest/A.DLL"), [&] { eraseFile(path("dest/A.DLL"), nullptr, 0); });
  expectError(kErrorMove, path("src/A.DLL"),
              [&] { moveFileByPath(path("src/A.DLL"), path("dest/A.DLL"), nullptr, 0, 0); });
  EXPECT_FALSE(dir.exists("win/WININIT.INI"));
}

TEST_F(FileInstallTest, MoveWithReplaceOntoFileInUseDefersDeletionThenRename) {
  put("src/A.DLL", "new", kMid);
  put("dest/A.DLL", "old", kMid);
  lock("dest/A.DLL");
  moveFileByPath(path("src/A.DLL"), path("dest/A.DLL"), &config, 1, 0);
  EXPECT_EQ("[rename]\r\nNUL=" + shortPath("dest\\A.DLL") + "\r\n" + shortPath("dest\\A.DLL") +
                "=" + shortPath("src\\A.DLL") + "\r\n",
            read("win/WININIT.INI"));
  EXPECT_EQ(1, config.getDeferred());
}

TEST_F(FileInstallTest, OnceDeferredLaterStepsAreDeferredToo) {
  put("src/A.DLL", "new", kMid);
  config.setDeferred(1);
  moveFileByPath(path("src/A.DLL"), path("dest/A.DLL"), &config, 0, 0);
  EXPECT_TRUE(dir.exists("src/A.DLL"));
  EXPECT_EQ("[rename]\r\n" + shortPath("dest\\A.DLL") + "=" + shortPath("src\\A.DLL") + "\r\n",
            read("win/WININIT.INI"));
}

TEST_F(FileInstallTest, EraseHandlesMissingBackedUpAndRepeatedFiles) {
  eraseFile(path("dest/GONE.DLL"), &config, 1);
  EXPECT_EQ(0, config.getDeferred());

  put("dest/A.DLL", "a", kMid);
  eraseFile(path("dest/A.DLL"), &config, 1);
  EXPECT_FALSE(dir.exists("dest/A.DLL"));
  EXPECT_EQ("a", read("dest/A.OLD"));
  EXPECT_EQ(0, config.getDeferred());
  EXPECT_FALSE(dir.exists("win/WININIT.INI"));

  put("dest/B.DLL", "b", kMid);
  lock("dest/B.DLL");
  eraseFile(path("dest/B.DLL"), &config, 0);
  eraseFile(path("dest/B.DLL"), &config, 0);
  EXPECT_EQ("[rename]\r\nNUL=" + shortPath("dest\\B.DLL") + "\r\n", read("win/WININIT.INI"));
  EXPECT_EQ(1, config.getDeferred());
}

// WININIT.EXE finds files by their 8.3 names only: a file that is there by
// its alias, a name the restart makes by the alias Windows would give it in
// its directory now, past the 8.3 names already taken there.
TEST_F(FileInstallTest, WininitNamesEveryFileByAnEightDotThreeName) {
  const std::string product = "dest/Tavro Viewer/";
  dir.write(product + ".keep", "");
  put("src/NEWDRV.DLL", "new", kNew);
  put(product + "Viewer Help.hlp", "old", kMid);
  put(product + "VIEWER~1.OLD", "another file", kMid);
  lock(product + "Viewer Help.hlp");
  EXPECT_EQ(kCopyOverOlder,
            copyFileByPath(path("src/NEWDRV.DLL"), path(product + "Viewer Help.hlp"),
                           tempDir.c_str(), &config, 0, kWithBackup));
  std::string help;
  ASSERT_TRUE(platform::getShortPath(path(product + "Viewer Help.hlp"), &help).ok);
  const std::string shortProduct = help.substr(0, help.find_last_of('\\') + 1);
  EXPECT_EQ("[rename]\r\n" + shortProduct + "VIEWER~2.OLD=" + help + "\r\n" + help + "=" +
                shortPath("temp\\" + firstTemporaryName()) + "\r\n",
            read("win/WININIT.INI"));
  EXPECT_EQ("old", read(product + "Viewer Help.hlp"));
}

// A name WININIT.EXE could not read would leave the step undone at the
// restart: it is refused now, as a refused registration is.
TEST_F(FileInstallTest, ANameWithoutAnEightDotThreeFormIsRefusedNotPutOff) {
  dir.write("dest/Tavro Viewer/Viewer Help.hlp", "old");
  const std::string help = path("dest/Tavro Viewer/Viewer Help.hlp");
  hooks.set([help](Call call, const std::string& target) {
    if (!isSamePath(target, help)) return 0;
    if (call == Call::kTestPath) return EIO;
    return call == Call::kRenameFile || call == Call::kDeleteFile ? EBUSY : 0;
  });
  expectError(kErrorRestartRefused, help, [&] { eraseFile(help, &config, kNoBackup); });
  EXPECT_FALSE(dir.exists("win/WININIT.INI"));
  EXPECT_EQ("old", read("dest/Tavro Viewer/Viewer Help.hlp"));
}

TEST_F(FileInstallTest, RefusedRestartRegistrationRaises29) {
  config.setPlatform(kPlatformWindowsNt);
  hooks.fail(Call::kScheduleMoveAtRestart, EACCES);
  expectError(kErrorRestartRefused, path("dest/A.DLL"),
              [&] { deferRename(path("dest/A.DLL"), nullptr, &config); });
}

TEST_F(FileInstallTest, TraceLinesOnlyWhenDebugging) {
  put("src/NEWDRV.DLL", "new", kMid);
  ::testing::internal::CaptureStdout();
  copy(0, 0, tempDir.c_str());
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());

  config.setDebug(1);
  lock("dest/NEWDRV.DLL");
  ::testing::internal::CaptureStdout();
  eraseFile(path("dest/NEWDRV.DLL"), &config, 0);
  copyFileByPath(path("src/NEWDRV.DLL"), path("dest/OTHER.DLL"), nullptr, &config, 0, 0);
  EXPECT_EQ("\t\tLock Src  : " + path("dest/NEWDRV.DLL") + "\n\t\tLock Dest : NUL\n" +
                "\t\tCopy Src File  : " + path("src/NEWDRV.DLL") + "\n" +
                "\t\tCopy Dest File : " + path("dest/OTHER.DLL") + "\n",
            ::testing::internal::GetCapturedStdout());
}

}  // namespace
