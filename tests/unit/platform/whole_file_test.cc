// Whole-file saves and reads of the POSIX stand-in, and its time stamps:
// each as careful as Windows, where the stand-in used to be less so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/aside_name.h"
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
// TVPAT_WINVER for Windows NT, the Windows 95 family and Win32s.
constexpr const char* kNt = "0x00000004";
constexpr const char* kWin95 = "0xC0000A04";
constexpr const char* kWin32s = "0x80000003";

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
  EnvironmentGuard environment;
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

// Windows NT renames the new file over the old; the Windows 95 family, which
// cannot, goes through the aside name, and puts the old file back when the
// new one cannot take its place.
TEST_F(WholeFileTest, EachKindSavesItsOwnWayAndAnyFailingStepLeavesTheOldFile) {
  const std::string aside = platform::asideNameOf("APP.INI");
  const struct {
    const char* kind;
    Call call;
    std::string path;
  } cases[] = {
      {kNt, Call::kGetFileInfo, "APP"},    {kNt, Call::kCreateNewFile, "~TVP"},
      {kNt, Call::kWriteFile, "~TVP"},     {kNt, Call::kFlushFile, "~TVP"},
      {kNt, Call::kCloseFile, "~TVP"},     {kNt, Call::kReplaceFile, "~TVP"},
      {kWin95, Call::kDeleteFile, aside},  {kWin95, Call::kRenameFile, "APP.INI"},
      {kWin95, Call::kRenameFile, "~TVP"}, {kWin32s, Call::kRenameFile, "~TVP"},
  };
  for (const auto& step : cases) {
    SCOPED_TRACE(std::string(step.kind) + " " + std::to_string(static_cast<int>(step.call)));
    environment.set("TVPAT_WINVER", step.kind);
    dir.write("APP.INI", kOld);
    hooks.fail(step.call, EIO, dir.file(step.path));
    EXPECT_FALSE(platform::saveWholeFile(dir.file("APP.INI"), kNew).ok);
    hooks.clear();
    EXPECT_EQ(kOld, dir.read("APP.INI"));
    EXPECT_EQ((std::vector<std::string>{"APP.INI"}), names());
  }
}

TEST_F(WholeFileTest, AsideNamesAreFixedDistinctShortNames) {
  // The name is kept on disk: a later run, of either build, must find it.
  EXPECT_EQ("C:\\WIN\\NBHL56KA.~SV", platform::asideNameOf("C:\\WIN\\tavro.ini"));
  std::set<std::string> seen = {platform::asideNameOf("A long name.config")};
  for (int i = 0; i < 20000; ++i) {
    std::string aside = platform::asideNameOf("F" + std::to_string(i / 2) + (i % 2 ? ".I" : ".D"));
    EXPECT_EQ(8u, aside.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"));
    EXPECT_EQ(".~SV", aside.substr(8));
    EXPECT_TRUE(seen.insert(aside).second) << i;
  }
}

TEST_F(WholeFileTest, ReadPutsBackACopyLeftAsideAndNeverCallsAFailedReadMissing) {
  dir.write(platform::asideNameOf("APP.INI"), kOld);
  std::string content;
  ASSERT_TRUE(platform::readWholeFile(dir.file("APP.INI"), &content).ok);
  EXPECT_EQ(kOld, content);
  EXPECT_EQ((std::vector<std::string>{"APP.INI"}), names());
  // Beside the file itself an aside copy is stale and stays unread.
  dir.write(platform::asideNameOf("APP.INI"), "stale");
  ASSERT_TRUE(platform::readWholeFile(dir.file("APP.INI"), &content).ok);
  EXPECT_EQ(kOld, content);
  // Profile reads the same way: a save cut short loses no line.
  dir.write(platform::asideNameOf("LEDGER.INI"), kOld);
  EXPECT_EQ("old", Profile(dir.file("LEDGER.INI")).getString("A", "k", ""));
  EXPECT_EQ(kOld, dir.read("LEDGER.INI"));

  hooks.fail(Call::kReadFile, ENOENT, dir.file("APP"));
  Status failed = platform::readWholeFile(dir.file("APP.INI"), &content);
  EXPECT_FALSE(failed.ok);
  EXPECT_FALSE(failed.notFound);
  EXPECT_EQ("", content);
}

// A .BAK newer than a lone aside copy is the saved file, carried out and
// renamed by a restart: the copy is history, not the file's content.
TEST_F(WholeFileTest, ALoneCopyIsPutBackUnlessTheFilesBakIsNewer) {
  const std::string aside = platform::asideNameOf("wininit.ini");
  for (int bakLater : {2, 0, -2}) {
    SCOPED_TRACE(bakLater);
    dir.clear();
    dir.write(aside, kOld);
    dir.write("WININIT.BAK", kNew);
    fs::last_write_time(dir.file("WININIT.BAK"),
                        fs::last_write_time(dir.file(aside)) + std::chrono::seconds(bakLater));
    std::string content;
    EXPECT_EQ(bakLater <= 0, platform::readWholeFile(dir.file("wininit.ini"), &content).ok);
    EXPECT_EQ(bakLater <= 0 ? kOld : "", content);
    EXPECT_FALSE(dir.exists(aside));
  }
}

TEST_F(WholeFileTest, StampsUseOneOffsetForFilesEitherSideOfADaylightSavingChange) {
  // Central Europe: UTC+1 in winter, UTC+2 in summer.
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
