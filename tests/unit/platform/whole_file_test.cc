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
#include "platform/posix/test_hooks.h"
#include "platform/registry.h"
#include "profile/profile.h"
#include "support/temp_dir.h"
#include "unit/platform/environment_guard.h"

namespace {

namespace fs = std::filesystem;
using platform::Status;
using platform::testing::Call;

constexpr const char* kOld = "[A]\r\nk=old\r\n";
constexpr const char* kNew = "[A]\r\nk=new\r\nadded=1\r\n";

class WholeFileTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::testing::setFaultHook(nullptr); }

  // Fails every call of one kind whose path holds `part` with `error`.
  void fail(Call call, const std::string& part, int error) {
    platform::testing::setFaultHook([=](Call asked, const std::string& path) {
      return asked == call && path.find(part) != std::string::npos ? error : 0;
    });
  }

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
}

TEST_F(WholeFileTest, SaveCreatesAMissingFileWithTheUsualMode) {
  mode_t mask = umask(022);
  Status status = platform::saveWholeFile(dir.file("NEW.INI"), kNew);
  umask(mask);
  ASSERT_TRUE(status.ok);
  EXPECT_EQ(kNew, dir.read("NEW.INI"));
  EXPECT_EQ(0644u, mode("NEW.INI"));
  Status missingDirectory = platform::saveWholeFile(dir.file("NONE/NEW.INI"), kNew);
  EXPECT_TRUE(missingDirectory.notFound);
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
  fail(Call::kCreateNewFile, "~TVP", EACCES);
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
    fail(step.call, step.path, EIO);
    EXPECT_FALSE(platform::saveWholeFile(dir.file("APP.INI"), kNew).ok);
    platform::testing::setFaultHook(nullptr);
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

  fail(Call::kReadFile, "APP", ENOENT);
  Status failed = platform::readWholeFile(dir.file("APP.INI"), &content);
  EXPECT_FALSE(failed.ok);
  EXPECT_FALSE(failed.notFound);
  EXPECT_EQ("", content);
}

TEST_F(WholeFileTest, RegistryChangeThatCannotBeFlushedFailsAndKeepsTheFile) {
  EnvironmentGuard environment;
  environment.set("WINDIR", dir.getPath().c_str());
  environment.set("TVPAT_REGISTRY", nullptr);
  const std::string hive = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n";
  dir.write("REGISTRY.REG", hive);
  fail(Call::kFlushFile, "", EIO);
  platform::RegistryKey key;
  EXPECT_FALSE(
      platform::createRegistryKey(platform::getRootKey(platform::RegistryRoot::kCurrentUser),
                                  "Software\\Tavro", &key)
          .ok);
  EXPECT_EQ(hive, dir.read("REGISTRY.REG"));
  EXPECT_EQ((std::vector<std::string>{"REGISTRY.REG"}), names());
}

// Sets TZ for one test and makes the C library read it, before and after.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) : environment(new EnvironmentGuard) {
    environment->set("TZ", zone);
    tzset();
  }
  ~ZoneGuard() {
    environment.reset();
    tzset();
  }

 private:
  std::unique_ptr<EnvironmentGuard> environment;
};

// Seconds since 1970 of a UTC date at noon.
std::time_t utcNoon(int year, int month, int day) {
  struct tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = 12;
  return timegm(&fields);
}

TEST_F(WholeFileTest, StampsUseOneOffsetForFilesEitherSideOfADaylightSavingChange) {
  // Central Europe: UTC+1 in winter, UTC+2 in summer.
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const std::time_t winter = utcNoon(2001, 1, 15);
  const std::time_t summer = utcNoon(2001, 7, 15);
  std::vector<platform::DosStamp> read;
  for (std::time_t when : {winter, summer}) {
    dir.write("F.DLL", "x");
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, dir.file("F.DLL").c_str(), times, 0));
    platform::FileHandle file;
    ASSERT_TRUE(platform::openFileForReading(dir.file("F.DLL"), &file).ok);
    platform::DosStamp stamp;
    ASSERT_TRUE(platform::getFileStamp(file, &stamp).ok);
    platform::closeFile(file);
    read.push_back(stamp);
  }
  // Both noon UTC, so both the same local hour, whichever offset is current.
  EXPECT_EQ(read[0].time, read[1].time);
  int hour = read[0].time >> 11;
  EXPECT_TRUE(hour == 13 || hour == 14) << hour;

  // And back: one local time on both dates is one UTC time of day.
  std::vector<std::time_t> written;
  for (const platform::DosStamp& stamp : read) {
    platform::FileHandle file;
    ASSERT_TRUE(platform::createNewFile(dir.file("S" + std::to_string(written.size())), &file).ok);
    ASSERT_TRUE(platform::setFileStamp(file, stamp).ok);
    platform::closeFile(file);
    struct stat info;
    ASSERT_EQ(0, stat(dir.file("S" + std::to_string(written.size())).c_str(), &info));
    written.push_back(info.st_mtime);
  }
  EXPECT_EQ(winter, written[0]);
  EXPECT_EQ(summer, written[1]);
}

}  // namespace
