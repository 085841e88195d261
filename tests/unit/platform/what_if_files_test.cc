// The file overlay of the what-if backend, over a real directory of the
// POSIX stand-in: what the run changes reads back through the ordinary
// platform calls, fails where the system would fail, and leaves every file of
// the machine as it was, bytes, time and mode.
#include "platform/what_if_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/backend.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "support/environment_guard.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::FileHandle;
using platform::Status;

// Every entry below root: its bytes (none for a directory), last-write time
// and mode.
using Snapshot = std::map<std::string, std::tuple<std::string, long long, unsigned>>;

Snapshot snapshotOf(const std::string& root) {
  Snapshot snapshot;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    struct stat info;
    stat(entry.path().c_str(), &info);
    std::string bytes = entry.is_directory() ? "<dir>" : readBytes(entry.path()).value_or("?");
    snapshot[fs::relative(entry.path(), root).string()] = {
        bytes, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec, info.st_mode};
  }
  return snapshot;
}

// The machine of the POSIX stand-in, but with every file whose name holds
// "BUSY" open in another program.
class BusyMachine : public platform::Backend {
 public:
  Status testWritable(const std::string& path) override {
    if (path.find("BUSY") != std::string::npos) return Status::failure(EBUSY, false);
    return Backend::testWritable(path);
  }
};

class WhatIfFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("APP/BIN/A.EXE", "");
    writeStampedFile(dir.file("APP/BIN/A.EXE"), "old exe", makeDosStamp(2001, 3, 4));
    dir.write("APP/DATA/CFG.INI", "[A]\r\nk=old\r\n");
    dir.write("APP/OLD/X.TXT", "x");
    dir.write("APP/RO.DLL", "ro");
    chmod(dir.file("APP/RO.DLL").c_str(), 0444);
    dir.write("APP/BUSY.DLL", "busy");
    before = snapshotOf(dir.getPath());
  }

  // Puts a what-if backend over machine in force.
  void start(platform::Backend& machine = platform::getSystemBackend()) {
    platform::setBackend(nullptr);
    whatIf = std::make_unique<platform::WhatIfBackend>(machine);
    platform::setBackend(whatIf.get());
  }

  void TearDown() override {
    platform::setBackend(nullptr);
    EXPECT_EQ(before, snapshotOf(dir.getPath()));
  }

  // The Windows path of a file below the directory.
  std::string path(const std::string& relative) const { return dir.getPath() + "\\" + relative; }

  std::string readBack(const std::string& relative) const {
    std::string content;
    return platform::readWholeFile(path(relative), &content).ok ? content : "<absent>";
  }

  std::vector<std::string> names(const std::string& relative) const {
    std::vector<platform::DirectoryEntry> entries;
    std::vector<std::string> found;
    if (!platform::listDirectory(path(relative), &entries).ok) return {"<no listing>"};
    for (const platform::DirectoryEntry& entry : entries) {
      found.push_back(entry.name + (entry.isDirectory ? "\\" : ""));
    }
    return found;
  }

  std::vector<std::string> changedPaths() const {
    std::vector<std::string> found;
    for (const auto& changed : whatIf->getChangedPaths()) {
      found.push_back(changed.path.substr(dir.getPath().size() + 1));
    }
    return found;
  }

  TempDir dir;
  Snapshot before;
  EnvironmentGuard environment;
  std::unique_ptr<platform::WhatIfBackend> whatIf;
};

TEST_F(WhatIfFilesTest, WrittenFilesReadBackWithTheirStampsAndSizes) {
  start();
  FileHandle file;
  ASSERT_TRUE(platform::createNewFile(path("APP\\BIN\\New.dll"), &file).ok);
  std::size_t written = 0;
  ASSERT_TRUE(platform::writeFile(file, "new dll", 7, &written).ok);
  ASSERT_TRUE(platform::setFileStamp(file, makeDosStamp(2003, 5, 6)).ok);
  ASSERT_TRUE(platform::closeFile(file).ok);
  ASSERT_TRUE(platform::openFileForAppending(path("app\\data\\cfg.ini"), &file).ok);
  ASSERT_TRUE(platform::writeFile(file, "x=1\r\n", 5, &written).ok);
  ASSERT_TRUE(platform::closeFile(file).ok);
  ASSERT_TRUE(platform::openFileForAppending(path("APP\\LOG.TXT"), &file).ok);
  ASSERT_TRUE(platform::writeFile(file, "one", 3, &written).ok);
  ASSERT_TRUE(platform::closeFile(file).ok);
  ASSERT_TRUE(platform::saveWholeFile(path("APP\\DATA\\NEW.INI"), "[N]\r\n").ok);

  EXPECT_EQ("new dll", readBack("APP\\BIN\\NEW.DLL"));
  EXPECT_EQ(stampValue(makeDosStamp(2003, 5, 6)), readStampValue(path("APP\\BIN\\NEW.DLL")));
  EXPECT_EQ(stampValue(makeDosStamp(2001, 3, 4)), readStampValue(path("APP\\BIN\\A.EXE")));
  EXPECT_EQ("[A]\r\nk=old\r\nx=1\r\n", readBack("APP\\DATA\\CFG.INI"));
  EXPECT_EQ("one", readBack("APP\\LOG.TXT"));
  EXPECT_EQ("[N]\r\n", readBack("APP\\DATA\\NEW.INI"));
  platform::FileInfo info;
  ASSERT_TRUE(platform::getFileInfo(path("APP\\BIN\\NEW.DLL"), &info).ok);
  EXPECT_EQ(7u, info.size);
  EXPECT_EQ((std::vector<std::string>{"A.EXE", "New.dll"}), names("APP\\BIN"));
  EXPECT_EQ((std::vector<std::string>{"CFG.INI", "NEW.INI"}), names("APP\\DATA"));
  EXPECT_EQ((std::vector<std::string>{"APP\\BIN\\New.dll", "app\\data\\cfg.ini", "APP\\LOG.TXT",
                                      "APP\\DATA\\~TVP0000.TMP", "APP\\DATA\\NEW.INI"}),
            changedPaths());
}

// A save replaces the file in one step where the system can, and goes
// through the aside name where it cannot; neither leaves a file behind.
TEST_F(WhatIfFilesTest, SavesOfAnExistingFileReplaceItOnEveryKind) {
  for (const char* kind : {"0x00000004", "0xC0000A04"}) {
    SCOPED_TRACE(kind);
    environment.set("TVPAT_WINVER", kind);
    start();
    ASSERT_TRUE(platform::saveWholeFile(path("APP\\DATA\\CFG.INI"), "[A]\r\nk=new\r\n").ok);
    EXPECT_EQ("[A]\r\nk=new\r\n", readBack("APP\\DATA\\CFG.INI"));
    EXPECT_EQ((std::vector<std::string>{"CFG.INI"}), names("APP\\DATA"));
  }
  EXPECT_EQ(static_cast<unsigned long>(ENOSYS),
            platform::replaceFile(path("APP\\RO.DLL"), path("APP\\X")).systemError);
}

TEST_F(WhatIfFilesTest, RenamesCarryFilesAndRealDirectoriesAcross) {
  start();
  ASSERT_TRUE(platform::renameFile(path("APP\\BIN\\A.EXE"), path("APP\\DATA\\A.OLD")).ok);
  ASSERT_TRUE(platform::renameFile(path("APP\\OLD"), path("APP\\Moved")).ok);
  ASSERT_TRUE(platform::makeDirectory(path("APP\\MADE")).ok);
  ASSERT_TRUE(platform::renameFile(path("APP\\Moved\\X.TXT"), path("APP\\MADE\\Y.TXT")).ok);
  ASSERT_TRUE(platform::renameFile(path("APP\\MADE"), path("APP\\Moved\\Made")).ok);
  ASSERT_TRUE(platform::renameFile(path("APP\\ro.dll"), path("APP\\Ro.Dll")).ok);

  EXPECT_EQ("old exe", readBack("APP\\DATA\\A.OLD"));
  EXPECT_EQ(stampValue(makeDosStamp(2001, 3, 4)), readStampValue(path("APP\\DATA\\A.OLD")));
  EXPECT_EQ("x", readBack("APP\\MOVED\\MADE\\Y.TXT"));
  EXPECT_TRUE(platform::testPath(path("APP\\BIN\\A.EXE")).notFound);
  EXPECT_TRUE(platform::testPath(path("APP\\OLD\\X.TXT")).notFound);
  EXPECT_TRUE(platform::testPath(path("APP\\MADE")).notFound);
  EXPECT_EQ((std::vector<std::string>{}), names("APP\\BIN"));
  EXPECT_EQ((std::vector<std::string>{"CFG.INI", "A.OLD"}), names("APP\\DATA"));
  EXPECT_EQ((std::vector<std::string>{"Made\\"}), names("APP\\Moved"));
  EXPECT_EQ((std::vector<std::string>{"BIN\\", "BUSY.DLL", "DATA\\", "Ro.Dll", "Moved\\"}),
            names("APP"));
  EXPECT_EQ((std::vector<std::string>{"<no listing>"}), names("APP\\OLD"));
}

TEST_F(WhatIfFilesTest, ChangesFailWhereTheSystemWouldAndChangeNothing) {
  BusyMachine machine;
  start(machine);
  FileHandle file;
  const struct {
    const char* what;
    Status status;
    unsigned long error;
  } cases[] = {
      {"new file on a taken name", platform::createNewFile(path("app\\bin\\a.exe"), &file), EEXIST},
      {"new file in a missing directory", platform::createNewFile(path("APP\\NO\\A"), &file),
       ENOENT},
      {"rename onto a taken name",
       platform::renameFile(path("APP\\RO.DLL"), path("APP\\BIN\\A.EXE")), EEXIST},
      {"rename into a missing directory",
       platform::renameFile(path("APP\\RO.DLL"), path("APP\\NO\\RO.DLL")), ENOENT},
      {"rename of a file in use", platform::renameFile(path("APP\\BUSY.DLL"), path("APP\\B.DLL")),
       EBUSY},
      {"replace of a read-only file",
       platform::replaceFile(path("APP\\BIN\\A.EXE"), path("APP\\RO.DLL")), EACCES},
      {"replace of a file in use",
       platform::replaceFile(path("APP\\BIN\\A.EXE"), path("APP\\BUSY.DLL")), EBUSY},
      {"delete of a read-only file", platform::deleteFile(path("APP\\RO.DLL")), EACCES},
      {"delete of a file in use", platform::deleteFile(path("APP\\BUSY.DLL")), EBUSY},
      {"delete of a directory", platform::deleteFile(path("APP\\BIN")), EACCES},
      {"save of a read-only file", platform::saveWholeFile(path("APP\\RO.DLL"), "new"), EACCES},
      {"directory on a taken name", platform::makeDirectory(path("APP\\BIN\\A.EXE")), EEXIST},
  };
  for (const auto& refused : cases) {
    SCOPED_TRACE(refused.what);
    EXPECT_FALSE(refused.status.ok);
    EXPECT_EQ(refused.error, refused.status.systemError);
  }
  EXPECT_EQ((std::vector<std::string>{}), changedPaths());
  EXPECT_EQ("ro", readBack("APP\\RO.DLL"));
  EXPECT_EQ("busy", readBack("APP\\BUSY.DLL"));
}

TEST_F(WhatIfFilesTest, ReadOnlyFileClearedByTheRunCanGo) {
  start();
  ASSERT_TRUE(platform::makeWritable(path("APP\\RO.DLL")).ok);
  EXPECT_TRUE(platform::testWritable(path("APP\\RO.DLL")).ok);
  ASSERT_TRUE(platform::deleteFile(path("APP\\RO.DLL")).ok);
  EXPECT_TRUE(platform::testPath(path("APP\\RO.DLL")).notFound);
  EXPECT_EQ((std::vector<std::string>{"APP\\RO.DLL"}), changedPaths());
}

// A name the run makes has no alias of its own yet: an 8.3 name is its own,
// and a long one has none the run could know.
TEST_F(WhatIfFilesTest, ShortPathsOfNewNamesFollowTheirDirectory) {
  std::string app;
  ASSERT_TRUE(platform::getShortPath(path("APP"), &app).ok);
  start();
  for (const char* made : {"APP\\BIN\\NEW.DLL", "APP\\BIN\\A long name.dll"}) {
    FileHandle file;
    ASSERT_TRUE(platform::createNewFile(path(made), &file).ok);
    platform::closeFile(file);
  }
  ASSERT_TRUE(platform::renameFile(path("APP\\OLD"), path("APP\\MOVED")).ok);
  const struct {
    const char* relative;
    const char* shortPath;
  } cases[] = {
      {"APP\\BIN\\A.EXE", "\\BIN\\A.EXE"},
      {"APP\\BIN\\NEW.DLL", "\\BIN\\NEW.DLL"},
      {"APP\\MOVED\\X.TXT", "\\MOVED\\X.TXT"},
      {"APP\\BIN\\A long name.dll", nullptr},
      {"APP\\OLD\\X.TXT", nullptr},
  };
  for (const auto& name : cases) {
    SCOPED_TRACE(name.relative);
    std::string shortPath;
    Status status = platform::getShortPath(path(name.relative), &shortPath);
    if (name.shortPath == nullptr) {
      EXPECT_TRUE(status.notFound);
    } else {
      EXPECT_TRUE(status.ok);
      EXPECT_EQ(app + name.shortPath, shortPath);
    }
  }
}

TEST_F(WhatIfFilesTest, LocksProbeTheMachineAndHoldOnlyInTheRun) {
  platform::Backend& system = platform::getSystemBackend();
  start();
  FileHandle lock;
  bool heldElsewhere = false;
  ASSERT_TRUE(platform::lockFile(path("APP\\BIN\\A.EXE"), &lock, &heldElsewhere).ok);
  FileHandle second;
  EXPECT_FALSE(platform::lockFile(path("APP\\BIN\\A.EXE"), &second, &heldElsewhere).ok);
  EXPECT_TRUE(heldElsewhere);
  // The machine's file is free while the run holds its lock...
  FileHandle real;
  ASSERT_TRUE(system.lockFile(path("APP\\BIN\\A.EXE"), &real, &heldElsewhere).ok);
  ASSERT_TRUE(platform::closeFile(lock).ok);
  // ...and a lock another program holds there is refused to the run.
  EXPECT_FALSE(platform::lockFile(path("APP\\DATA\\..\\BIN\\A.EXE"), &second, &heldElsewhere).ok);
  EXPECT_TRUE(heldElsewhere);
  system.closeFile(real);

  ASSERT_TRUE(platform::lockFile(path("APP\\TVLOCK"), &lock, &heldElsewhere).ok);
  EXPECT_TRUE(platform::testPath(path("APP\\TVLOCK")).ok);
  EXPECT_TRUE(platform::closeFile(lock).ok);
  EXPECT_EQ((std::vector<std::string>{"APP\\TVLOCK"}), changedPaths());
}

TEST_F(WhatIfFilesTest, LogStreamsAreTheRunsOwn) {
  start();
  std::FILE* log = platform::openStream(path("APP\\DATA\\CFG.INI"), "a+");
  ASSERT_NE(nullptr, log);
  std::fputs("logged\n", log);
  std::fclose(log);
  EXPECT_EQ(nullptr, platform::openStream(path("APP\\RO.DLL"), "w+"));
  EXPECT_EQ((std::vector<std::string>{"APP\\DATA\\CFG.INI"}), changedPaths());
}

}  // namespace
