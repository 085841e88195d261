#include "platform/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "support/environment_guard.h"
#include "support/temp_dir.h"

namespace {

TEST(PosixSystem, VersionNumberReadsDecimalOrHexAndDefaultsToNt) {
  EnvironmentGuard environment;
  environment.set("TVPAT_WINVER", "0xC0000A04");
  EXPECT_EQ(platform::getVersionNumber(), 0xC0000A04ul);
  environment.set("TVPAT_WINVER", "2147483651");
  EXPECT_EQ(platform::getVersionNumber(), 0x80000003ul);
  environment.set("TVPAT_WINVER", "0x1G");
  EXPECT_EQ(platform::getVersionNumber(), 4ul);
  environment.set("TVPAT_WINVER", "-1");
  EXPECT_EQ(platform::getVersionNumber(), 4ul);
  environment.set("TVPAT_WINVER", nullptr);
  EXPECT_EQ(platform::getVersionNumber(), 4ul);
}

TEST(PosixSystem, WindowsDirectoryComesFromWindirAndEmptyFails) {
  EnvironmentGuard environment;
  std::string directory;
  environment.set("WINDIR", "/machine/windows/");
  ASSERT_TRUE(platform::getWindowsDirectory(&directory).ok);
  EXPECT_EQ(directory, "/machine/windows/");
  environment.set("WINDIR", "");
  EXPECT_FALSE(platform::getWindowsDirectory(&directory).ok);
  environment.set("WINDIR", nullptr);
  EXPECT_FALSE(platform::getWindowsDirectory(&directory).ok);
}

TEST(PosixSystem, ProgramPathIsTheRunningFile) {
  std::string path;
  ASSERT_TRUE(platform::getProgramPath(&path).ok);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  // The name comes after a "\", as a Windows path has it.
  EXPECT_TRUE(platform::testPath(path).ok) << path;
}

TEST(PosixSystem, StartingReportsProgramsThatCannotRun) {
  TempDir dir;
  platform::Status missing = platform::startProcess(dir.file("REBOOT.EXE"), {"REBOOT.EXE"});
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.notFound);
  dir.write("plain.exe", "not a program");
  platform::Status refused = platform::startProcess(dir.file("plain.exe"), {"plain.exe"});
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.systemError, static_cast<unsigned long>(EACCES));
  EXPECT_TRUE(platform::startProcess("/bin/sh", {"sh", "-c", "exit 3"}).ok);
}

}  // namespace
