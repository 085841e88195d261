#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/posix_support.h"
#include "platform/short_name.h"
#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

using platform::FileHandle;
using platform::Status;

std::string readAll(const std::string& path) {
  FileHandle file;
  if (!platform::openFileForReading(path, &file).ok) return "<absent>";
  std::string content;
  char buffer[64];
  std::size_t count = 0;
  while (platform::readFile(file, buffer, sizeof buffer, &count).ok && count > 0) {
    content.append(buffer, count);
  }
  platform::closeFile(file);
  return content;
}

// The file that stood at `from` now stands at `to` alone, holding content;
// both names as they are on disk.
::testing::AssertionResult movedTo(const TempDir& dir, const std::string& from,
                                   const std::string& to, const std::string& content) {
  if (dir.read(to) != content) {
    return ::testing::AssertionFailure() << to << " holds " << dir.read(to).value_or("<absent>");
  }
  if (dir.exists(from)) return ::testing::AssertionFailure() << from << " is still there";
  return ::testing::AssertionSuccess();
}

TEST(PosixFiles, NamesResolveWithoutCaseAndWithEitherSeparator) {
  TempDir dir;
  dir.write("Product/bin/Driver.dll", "old");
  EXPECT_EQ(readAll(dir.getPath() + "\\PRODUCT\\BIN\\driver.DLL"), "old");
  EXPECT_EQ(readAll(dir.getPath() + "/product\\Bin/DRIVER.dll"), "old");
  EXPECT_TRUE(platform::testPath(dir.getPath() + "\\product\\BIN").ok);
  Status missing = platform::testPath(dir.getPath() + "\\product\\LIB\\x.dll");
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.notFound);
}

TEST(PosixFiles, CreatedNamesKeepTheirCaseBelowResolvedDirectories) {
  TempDir dir;
  dir.write("bin/keep", "");
  FileHandle file;
  ASSERT_TRUE(platform::createNewFile(dir.getPath() + "\\BIN\\NewDrv.DLL", &file).ok);
  std::size_t written = 0;
  ASSERT_TRUE(platform::writeFile(file, "new", 3, &written).ok);
  EXPECT_EQ(written, 3u);
  ASSERT_TRUE(platform::closeFile(file).ok);
  EXPECT_EQ(dir.read("bin/NewDrv.DLL"), "new");
  ASSERT_TRUE(platform::makeDirectory(dir.getPath() + "\\BIN\\Archive").ok);
  EXPECT_TRUE(dir.exists("bin/Archive"));
}

TEST(PosixFiles, CreateOnlyIfNewRefusesAnyExistingName) {
  TempDir dir;
  dir.write("file.txt", "kept");
  FileHandle file;
  Status status = platform::createNewFile(dir.getPath() + "/FILE.TXT", &file);
  EXPECT_FALSE(status.ok);
  EXPECT_FALSE(status.notFound);
  EXPECT_EQ(status.systemError, static_cast<unsigned long>(EEXIST));
  EXPECT_FALSE(platform::createNewFile(dir.getPath(), &file).ok);
  EXPECT_EQ(dir.read("file.txt"), "kept");
}

TEST(PosixFiles, RenameRefusesAnExistingTargetButReplaceTakesIt) {
  TempDir dir;
  dir.write("a.txt", "A");
  dir.write("b.txt", "B");
  Status status = platform::renameFile(dir.file("a.txt"), dir.file("B.TXT"));
  EXPECT_FALSE(status.ok);
  EXPECT_FALSE(status.notFound);
  EXPECT_EQ(dir.read("a.txt"), "A");
  EXPECT_EQ(dir.read("b.txt"), "B");

  ASSERT_TRUE(platform::renameFile(dir.file("A.TXT"), dir.file("c.txt")).ok);
  EXPECT_TRUE(movedTo(dir, "a.txt", "c.txt", "A"));
  EXPECT_TRUE(platform::renameFile(dir.file("missing"), dir.file("d.txt")).notFound);

  ASSERT_TRUE(platform::replaceFile(dir.file("C.txt"), dir.file("b.TXT")).ok);
  EXPECT_TRUE(movedTo(dir, "c.txt", "b.txt", "A"));
}

// The stand-in offers no more than the Windows it plays: a rename over a file
// on Windows NT only.
TEST(PosixFiles, ReplaceIsOfferedOnlyWhereThePlayedWindowsOffersIt) {
  for (const char* version : {"0x00000004", "0xC0000A04", "0x80000003"}) {
    SCOPED_TRACE(version);
    EnvironmentGuard environment;
    environment.set("TVPAT_WINVER", version);
    const int refused = std::string(version) == "0x00000004" ? 0 : ENOSYS;
    TempDir dir;
    dir.write("old", "O");
    dir.write("new", "N");
    Status replaced = platform::replaceFile(dir.file("new"), dir.file("old"));
    EXPECT_EQ(refused, static_cast<int>(replaced.systemError));
    EXPECT_EQ(refused ? "O" : "N", dir.read("old"));
  }
}

TEST(PosixFiles, RenameToAnotherCaseOfTheSameNameRenames) {
  TempDir dir;
  dir.write("readme.txt", "x");
  ASSERT_TRUE(platform::renameFile(dir.file("readme.txt"), dir.file("README.TXT")).ok);
  EXPECT_TRUE(movedTo(dir, "readme.txt", "README.TXT", "x"));
}

TEST(PosixFiles, DeleteRemovesFilesButNotDirectories) {
  TempDir dir;
  dir.write("sub/f", "");
  EXPECT_FALSE(platform::deleteFile(dir.file("SUB")).ok);
  EXPECT_TRUE(platform::deleteFile(dir.file("Sub/F")).ok);
  EXPECT_TRUE(platform::deleteFile(dir.file("sub/f")).notFound);
  EXPECT_TRUE(dir.exists("sub"));
}

// A failed open says "not found" exactly where testPath does: a copy takes
// it as the answer to whether anything holds the destination's name.
TEST(PosixFiles, AFailedOpenIsNotFoundOnlyWhereNothingIsThere) {
  TempDir dir;
  dir.write("sub/f", "");
  ASSERT_EQ(symlink("gone", dir.file("dangling").c_str()), 0);
  const char* const names[] = {"", "DANGLING", "missing", "sub/f/below", "none/f"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    FileHandle file;
    Status status = platform::openFileForReading(path, &file);
    EXPECT_FALSE(status.ok);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(platform::testPath(path).notFound, status.notFound);
  }
}

TEST(PosixFiles, DosStampRoundTripsInLocalTime) {
  EnvironmentGuard environment;
  environment.set("TZ", "UTC");
  TempDir dir;
  FileHandle file;
  ASSERT_TRUE(platform::createNewFile(dir.file("stamped"), &file).ok);
  platform::DosStamp stamp = makeDosStamp(2021, 7, 15, 13, 45, 58);
  ASSERT_TRUE(platform::setFileStamp(file, stamp).ok);
  platform::DosStamp read;
  ASSERT_TRUE(platform::getFileStamp(file, &read).ok);
  EXPECT_EQ(read.date, stamp.date);
  EXPECT_EQ(read.time, stamp.time);
  platform::DosStamp impossible;
  impossible.date = static_cast<std::uint16_t>((41 << 9) | (13 << 5) | 1);
  EXPECT_FALSE(platform::setFileStamp(file, impossible).ok);
  ASSERT_TRUE(platform::closeFile(file).ok);

  struct stat info;
  ASSERT_EQ(stat(dir.file("stamped").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1626356758);
  platform::FileInfo fileInfo;
  ASSERT_TRUE(platform::getFileInfo(dir.file("STAMPED"), &fileInfo).ok);
  EXPECT_EQ(fileInfo.modifiedTime, 1626356758ull * 1000000000ull);
  EXPECT_EQ(fileInfo.size, 0u);
}

TEST(PosixFiles, ListingSortsAndMarksDirectoryLinks) {
  TempDir dir;
  dir.write("b.txt", "");
  dir.write("Sub/x", "");
  ASSERT_EQ(symlink("Sub", dir.file("alias").c_str()), 0);
  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir.getPath(), &entries).ok);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "alias");
  EXPECT_TRUE(entries[0].isLink);
  EXPECT_TRUE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].name, "b.txt");
  EXPECT_FALSE(entries[1].isDirectory);
  EXPECT_EQ(entries[2].name, "Sub");
  EXPECT_TRUE(entries[2].isDirectory);
  EXPECT_TRUE(platform::listDirectory(dir.file("none"), &entries).notFound);
}

TEST(PosixFiles, StreamsResolveNames) {
  TempDir dir;
  dir.write("Win/tavro.ini", "[x]\n");
  std::FILE* stream = platform::openStream(dir.getPath() + "\\WIN\\TAVRO.INI", "a+");
  ASSERT_NE(stream, nullptr);
  std::fputs("k=v\n", stream);
  std::fclose(stream);
  EXPECT_EQ(dir.read("Win/tavro.ini"), "[x]\nk=v\n");
}

TEST(PosixFiles, HookSeesHandleCallsUnderTheOpeningPath) {
  TempDir dir;
  FaultHooks hooks;
  dir.write("data", "abc");
  std::vector<std::string> seen;
  hooks.set([&](platform::testing::Call call, const std::string& path) {
    if (call == platform::testing::Call::kReadFile) {
      seen.push_back(path);
      return ENOSPC;
    }
    // A file in use cannot be replaced, whichever side of the rename it is.
    return call == platform::testing::Call::kReplaceFile && path == "locked" ? EACCES : 0;
  });
  FileHandle file;
  ASSERT_TRUE(platform::openFileForReading(dir.getPath() + "\\DATA", &file).ok);
  char buffer[4];
  std::size_t count = 0;
  Status status = platform::readFile(file, buffer, sizeof buffer, &count);
  EXPECT_EQ(status.systemError, static_cast<unsigned long>(ENOSPC));
  EXPECT_FALSE(platform::replaceFile(dir.file("data"), "locked").ok);
  hooks.clear();
  EXPECT_TRUE(platform::closeFile(file).ok);
  EXPECT_EQ(seen, std::vector<std::string>{dir.getPath() + "\\DATA"});
  EXPECT_TRUE(dir.exists("data"));
}

// A listing may rule out only what testPath would not find: a miss it
// claimed wrongly would make a tree search skip a file that is there.
TEST(PosixFiles, ListingRulesOutOnlyNamesThatTestPathCannotFind) {
  TempDir dir;
  dir.write("Lang.tbl", "");
  dir.write("Sub/Lang.tbl", "");
  const std::string directory = dir.getPath() + "\\";
  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::listDirectory(directory, &entries).ok);
  const struct {
    std::string name;
    bool ruledOut;
  } cases[] = {
      {"NONE.TBL", true},
      {"LANG.TBL", false},
      {"lang.TBL", false},
      {"SUB", false},
      {"Sub\\Lang.tbl", false},
      {"sub/none", false},
      {".", false},
      {"..", false},
      {std::string(300, 'x'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 20));
    EXPECT_EQ(platform::listingRulesOut(directory, entries, c.name), c.ruledOut);
    if (c.ruledOut) {
      EXPECT_TRUE(platform::testPath(directory + c.name).notFound);
    }
  }
}

TEST(ShortNames, TellsEightDotThreeNamesAndPaths) {
  const struct {
    const char* name;
    bool isShort;
  } names[] = {
      {"NEWDRV.DLL", true},   {"newdrv.dll", true}, {"A", true},
      {"PROGRA~1", true},     {"TV0a.b1c", true},   {"NEWDRIVER.DLL", false},
      {"NEWDRV.HTML", false}, {"A.B.C", false},     {"MY FILE.TXT", false},
      {"A+B.DLL", false},     {"[A].DLL", false},   {".DLL", false},
      {"NAME.", false},       {"", false},
  };
  for (const auto& c : names) {
    EXPECT_EQ(platform::isShortName(c.name), c.isShort) << c.name;
  }
  const struct {
    const char* path;
    bool isShort;
  } paths[] = {
      {"C:\\PROGRA~1\\TAVRO\\A.DLL", true}, {"/tmp/TVAB12~1/./x/../A.DLL", true},
      {"\\\\SERVER\\SHARE\\A.DLL", true},   {"C:\\PROGRA~1\\", true},
      {"C:\\Program Files\\A.DLL", false},  {"C:\\PROGRA~1\\Viewer Help.hlp", false},
  };
  for (const auto& c : paths) {
    EXPECT_EQ(platform::isShortPath(c.path), c.isShort) << c.path;
  }
}

TEST(ShortNames, AliasesAreBuiltAsWindowsBuildsThem) {
  const std::set<std::string> firstNine = {"PROGRA~1", "PROGRA~2", "PROGRA~3",
                                           "PROGRA~4", "PROGRA~5", "PROGRA~6",
                                           "PROGRA~7", "PROGRA~8", "PROGRA~9"};
  const struct {
    const char* longName;
    std::set<std::string> taken;
    const char* alias;  // empty: none can be made
  } cases[] = {
      {"Program Files", {}, "PROGRA~1"},
      {"Program Files", {"PROGRA~1"}, "PROGRA~2"},
      {"Program Files", firstNine, "PROGR~10"},
      {"Viewer Help.hlp", {"VIEWER~1.OLD"}, "VIEWER~1.HLP"},
      {"Viewer Help.OLD", {"VIEWER~1.OLD"}, "VIEWER~2.OLD"},
      {"readme.html", {}, "README~1.HTM"},
      {"a.b.c.txt", {}, "ABC~1.TXT"},
      {".profile", {}, "PROFIL~1"},
      {"x+y;z=1.dat", {}, "X_Y_Z_~1.DAT"},
      {"Tavro Viewer", {}, "TAVROV~1"},
      {" . .", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longName);
    std::string stem, extension;
    const bool hasBasis = platform::getShortNameBasis(c.longName, &stem, &extension);
    EXPECT_EQ(hasBasis, *c.alias != '\0');
    if (hasBasis) {
      EXPECT_EQ(platform::numberShortName(stem, extension, c.taken), c.alias);
    }
  }
}

// The stand-in's alias of a long name depends on the name alone, so names
// that come and go beside it never change it; two names that would share
// one are numbered in listing order, past any 8.3 name that is there.
TEST(ShortNames, StandInAliasesAreStableAndNeverShared) {
  const std::string alias = platform::posix::getShortNames({"Tavro Viewer"})[0];
  EXPECT_TRUE(platform::isShortName(alias)) << alias;
  EXPECT_EQ(alias.substr(0, 2), "TA");
  EXPECT_EQ(alias.substr(6), "~1");
  EXPECT_EQ(platform::posix::getShortNames({"Tavro Viewer", "Tavro Viewer 2", "TAVRO.INI"})[0],
            alias);
  EXPECT_EQ(platform::posix::getShortNames({"NEWDRV.DLL", "readme.txt"}),
            (std::vector<std::string>{"", ""}));

  // Two long names whose hashed stems meet: the first in listing order
  // keeps ~1, and an 8.3 name already there moves the other past it.
  std::vector<std::string> pair;
  std::map<std::string, std::string> seen;
  for (int n = 0; n < 100000 && pair.empty(); ++n) {
    std::string name = "long name " + std::to_string(n);
    auto [at, fresh] = seen.emplace(platform::posix::getShortNames({name})[0], name);
    if (!fresh) pair = {at->second, name};
  }
  ASSERT_EQ(pair.size(), 2u);
  // Listing order: the same letters throughout, so as spelt.
  if (pair[1] < pair[0]) std::swap(pair[0], pair[1]);
  const std::string shared = platform::posix::getShortNames({pair[0]})[0];
  const std::string second = shared.substr(0, 6) + "~2";
  EXPECT_EQ(platform::posix::getShortNames({pair[1], pair[0]}),
            (std::vector<std::string>{second, shared}));
  EXPECT_EQ(platform::posix::getShortNames({pair[0], shared, pair[1]}),
            (std::vector<std::string>{second, "", shared.substr(0, 6) + "~3"}));
}

// What GetShortPathNameA gives on Windows, and WININIT.EXE needs: every long
// name of the path replaced by an alias that names the same file.
TEST(PosixFiles, LongNamesHaveAliasesThatNameThemToo) {
  TempDir dir;
  dir.write("Program Files/Tavro Viewer/Viewer Help.hlp", "help");
  dir.write("Program Files/Tavro Viewer/newdrv.dll", "driver");
  const std::string product = dir.getPath() + "\\Program Files\\Tavro Viewer\\";
  std::string help;
  ASSERT_TRUE(platform::getShortPath(product + "Viewer Help.hlp", &help).ok);
  EXPECT_TRUE(platform::isShortPath(help)) << help;
  EXPECT_EQ(readAll(help), "help");
  EXPECT_EQ(help.substr(help.size() - 4), ".HLP");
  std::string driver;
  ASSERT_TRUE(platform::getShortPath(product + "newdrv.dll", &driver).ok);
  EXPECT_EQ(driver.substr(driver.size() - 11), "\\newdrv.dll");
  EXPECT_EQ(driver.substr(0, driver.size() - 10), help.substr(0, help.size() - 12));
  EXPECT_TRUE(platform::getShortPath(product + "none.dll", &driver).notFound);

  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::listDirectory(product, &entries).ok);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, "Viewer Help.hlp");
  EXPECT_EQ(entries[1].shortName, help.substr(help.size() - 12));
  EXPECT_EQ(entries[0].shortName, "");
  EXPECT_FALSE(platform::listingRulesOut(product, entries, entries[1].shortName));
}

}  // namespace
