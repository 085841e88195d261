// Whole-file saves and reads of the POSIX stand-in, and its time stamps:
// each as careful as Windows, where the stand-in used to be less so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "profile/profile.h"
#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::Status;
using platform::testing::Call;

constexpr const char* kOld = "[A]\r\nk=old\r\n";
constexpr const char* kNew = "[A]\r\nk=new\r\nadded=1\r\n";

class WholeFileTest : public ::testing::Test {
 protected:
  unsigned mode(const std::string& relative) {
    struct stat info;
    EXPECT_EQ(0, stat(dir.file(relative).c_str(), &info));
    return info.st_mode & 07777;
  }

  // The names in the directory, so that a leftover new file shows.
  std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir.getPath())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  TempDir dir;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

TEST_F(WholeFileTest, SaveKeepsModeAndWritesThroughLinks) {
  dir.write("APP.INI", kOld);
  chmod(dir.file("APP.INI").c_str(), 0640);
  dir.write("real/TARGET.INI", kOld);
  chmod(dir.file("real/TARGET.INI").c_str(), 0604);
  fs::create_symlink("real/TARGET.INI", dir.file("LINK.INI"));

  // Windows names, resolved without regard to case as every other call.
  ASSERT_TRUE(platform::saveWholeFile(dir.getPath() + "\\app.ini", kNew).ok);
  ASSERT_TRUE(platform::saveWholeFile(dir.getPath() + "\\LINK.INI", kNew).ok);

  EXPECT_EQ(kNew, dir.read("APP.INI"));
  EXPECT_EQ(0640u, mode("APP.INI"));
  EXPECT_TRUE(fs::is_symlink(dir.file("LINK.INI")));
  EXPECT_EQ(kNew, dir.read("real/TARGET.INI"));
  EXPECT_EQ(0604u, mode("real/TARGET.INI"));
  EXPECT_EQ((std::vector<std::string>{"APP.INI", "LINK.INI", "real"}), names());
  EXPECT_TRUE(platform::saveWholeFile(dir.file("NONE/NEW.INI"), kNew).notFound);
}

TEST_F(WholeFileTest, ReadOnlyFileOrDirectoryIsRefusedAndUntouched) {
  dir.write("RO.INI", kOld);
  chmod(dir.file("RO.INI").c_str(), 0444);
  dir.write("DIR.INI/KEEP", "kept");
  // Even root, who passes every access test, is refused a read-only file.
  Status readOnly = platform::saveWholeFile(dir.file("RO.INI"), kNew);
  EXPECT_FALSE(readOnly.ok);
  EXPECT_EQ(static_cast<unsigned long>(EACCES), readOnly.systemError);
  EXPECT_FALSE(platform::saveWholeFile(dir.file("DIR.INI"), kNew).ok);
  EXPECT_EQ(kOld, dir.read("RO.INI"));
  EXPECT_EQ(0444u, mode("RO.INI"));
  EXPECT_EQ("kept", dir.read("DIR.INI/KEEP"));
  EXPECT_EQ((std::vector<std::string>{"DIR.INI", "RO.INI"}), names());
}

TEST_F(WholeFileTest, NoNewFileAllowedBesideAWritableFileRewritesItInPlace) {
  dir.write("APP.INI", kOld + std::string(100, ';'));
  chmod(dir.file("APP.INI").c_str(), 0660);
  struct stat before;
  ASSERT_EQ(0, stat(dir.file("APP.INI").c_str(), &before));
  hooks.fail(Call::kCreateNewFile, EACCES, "~TVP");
  ASSERT_TRUE(platform::saveWholeFile(dir.file("APP.INI"), kNew).ok);
  struct stat after;
  ASSERT_EQ(0, stat(dir.file("APP.INI").c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(kNew, dir.read("APP.INI"));
  EXPECT_EQ(0660u, mode("APP.INI"));
  // A missing file cannot be made there either.
  EXPECT_FALSE(platform::saveWholeFile(dir.file("NEW.INI"), kNew).ok);
  EXPECT_EQ((std::vector<std::string>{"APP.INI"}), names());
}

TEST_F(WholeFileTest, AnyFailingStepLeavesTheOldFileAndNoNewOne) {
  const struct {
    Call call;
    const char* path;
  } cases[] = {
      {Call::kGetFileInfo, "APP"}, {Call::kCreateNewFile, "~TVP"}, {Call::kWriteFile, "~TVP"},
      {Call::kFlushFile, "~TVP"},  {Call::kCloseFile, "~TVP"},     {Call::kReplaceFile, "~TVP"},
  };
  for (const auto& step : cases) {
    SCOPED_TRACE(static_cast<int>(step.call));
    dir.write("APP.INI", kOld);
    hooks.fail(step.call, EIO, dir.file(step.path));
    EXPECT_FALSE(platform::saveWholeFile(dir.file("APP.INI"), kNew).ok);
    hooks.clear();
    EXPECT_EQ(kOld, dir.read("APP.INI"));
    EXPECT_EQ((std::vector<std::string>{"APP.INI"}), names());
  }
}

TEST_F(WholeFileTest, ReadPutsBackACopyLeftAsideAndNeverCallsAFailedReadMissing) {
  dir.write("APP.INI.~SV", kOld);
  std::string content;
  ASSERT_TRUE(platform::readWholeFile(dir.file("APP.INI"), &content).ok);
  EXPECT_EQ(kOld, content);
  EXPECT_EQ((std::vector<std::string>{"APP.INI"}), names());
  // Beside the file itself an aside copy is stale and stays unread.
  dir.write("APP.INI.~SV", "stale");
  ASSERT_TRUE(platform::readWholeFile(dir.file("APP.INI"), &content).ok);
  EXPECT_EQ(kOld, content);
  // Profile reads the same way: a save cut short loses no line.
  dir.write("LEDGER.INI.~SV", kOld);
  EXPECT_EQ("old", Profile(dir.file("LEDGER.INI")).getString("A", "k", ""));
  EXPECT_EQ(kOld, dir.read("LEDGER.INI"));

  hooks.fail(Call::kReadFile, ENOENT, dir.file("APP"));
  Status failed = platform::readWholeFile(dir.file("APP.INI"), &content);
  EXPECT_FALSE(failed.ok);
  EXPECT_FALSE(failed.notFound);
  EXPECT_EQ("", content);
}

TEST_F(WholeFileTest, StampsUseOneOffsetForFilesEitherSideOfADaylightSavingChange) {
  // Central Europe: UTC+1 in winter, UTC+2 in summer.
  EnvironmentGuard environment;
  environment.set("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  // Noon UTC on 15 January and on 15 July 2001.
  const std::time_t times[] = {979560000, 995198400};
  std::vector<platform::DosStamp> stamps;
  for (std::time_t when : times) {
    std::string path = dir.file("F" + std::to_string(stamps.size()));
    platform::FileHandle file;
    ASSERT_TRUE(platform::createNewFile(path, &file).ok);
    struct timespec both[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(0, futimens(static_cast<int>(file.value), both));
    platform::DosStamp stamp;
    ASSERT_TRUE(platform::getFileStamp(file, &stamp).ok);
    // And back: the stamp names the same moment again.
    ASSERT_TRUE(platform::setFileStamp(file, stamp).ok);
    platform::closeFile(file);
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(when, info.st_mtime);
    stamps.push_back(stamp);
  }
  // Both noon UTC, so both the same local hour, whichever offset is current.
  EXPECT_EQ(stamps[0].time, stamps[1].time);
  int hour = stamps[0].time >> 11;
  EXPECT_TRUE(hour == 13 || hour == 14) << hour;
}

}  // namespace
