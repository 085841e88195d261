#include "platform/restart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/aside_name.h"
#include "platform/files.h"
#include "platform/posix/restart_queue.h"
#include "support/environment_guard.h"
#include "support/temp_dir.h"
#include "tvprestart/restart_simulation.h"

namespace {

using platform::posix::PendingMove;

class PosixRestart : public ::testing::Test {
 protected:
  PosixRestart() { environment.set("WINDIR", dir.file("Windows").c_str()); }

  // A Windows-style path below the machine's directory.
  std::string windows(const std::string& relative) {
    std::string path = dir.getPath() + "\\" + relative;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

  TempDir dir;
  EnvironmentGuard environment;
};

TEST_F(PosixRestart, RegistrationsAreQueuedInCallOrderWithTheirFlags) {
  dir.write("Windows/keep", "");
  ASSERT_TRUE(platform::scheduleMoveAtRestart(windows("a.tmp"), "C:\\a.dll", 7).ok);
  ASSERT_TRUE(platform::scheduleMoveAtRestart(windows("b.old"), nullptr, 5).ok);
  EXPECT_FALSE(platform::scheduleMoveAtRestart("bad\tname", nullptr, 5).ok);
  EXPECT_EQ(dir.read("Windows/PENDMOVE.TXT"),
            "7\t" + windows("a.tmp") + "\tC:\\a.dll\n5\t" + windows("b.old") + "\t\n");

  std::vector<PendingMove> moves;
  ASSERT_TRUE(platform::posix::readRestartQueue(dir.file("WINDOWS"), &moves).ok);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].flags, 7u);
  EXPECT_EQ(moves[0].destination, "C:\\a.dll");
  EXPECT_EQ(moves[1].source, windows("b.old"));
  EXPECT_EQ(moves[1].destination, "");

  dir.write("Windows/PENDMOVE.TXT", "7 a.tmp a.dll\n");
  EXPECT_FALSE(platform::posix::readRestartQueue(dir.file("Windows"), &moves).ok);
}

TEST_F(PosixRestart, WininitRunsBeforeTheQueueAndFailuresKeepFiles) {
  dir.write("App/newdrv.dll", "old");
  dir.write("App/temp/tv0001", "new");
  dir.write("App/junk.txt", "junk");
  dir.write("App/kept.dll", "kept");
  dir.write("App/final.dll", "previous");
  dir.write("App/queued.txt", "queued");
  const std::string wininit = "[Other]\r\nX=Y\r\n[Rename]\r\n" + windows("APP\\NEWDRV.DLL") + "=" +
                              windows("App\\Temp\\TV0001") + "\r\nnul=" + windows("App\\junk.txt") +
                              "\r\n" + windows("App\\kept.dll") + "=" + windows("App\\gone.tmp") +
                              "\r\n[rename2]\r\nq=r\r\n";
  dir.write("Windows/wininit.ini", wininit);
  dir.write("Windows/WININIT.BAK", "older");
  // Only the order makes final.dll receive the new file: the queue moves
  // what WININIT.INI has just put in place.
  ASSERT_TRUE(platform::scheduleMoveAtRestart(windows("App\\NEWDRV.DLL"),
                                              windows("App\\final.dll").c_str(), 7)
                  .ok);
  ASSERT_TRUE(platform::scheduleMoveAtRestart(windows("App\\queued.txt"), nullptr, 7).ok);

  std::vector<std::string> report;
  EXPECT_FALSE(tvprestart::carryOutRestart(dir.file("Windows"), &report));

  EXPECT_EQ(dir.read("App/final.dll"), "new");
  EXPECT_FALSE(dir.exists("App/newdrv.dll"));
  EXPECT_FALSE(dir.exists("App/temp/tv0001"));
  EXPECT_FALSE(dir.exists("App/junk.txt"));
  EXPECT_FALSE(dir.exists("App/queued.txt"));
  EXPECT_EQ(dir.read("App/kept.dll"), "kept");
  EXPECT_FALSE(dir.exists("Windows/wininit.ini"));
  EXPECT_EQ(dir.read("Windows/WININIT.BAK"), wininit);
  EXPECT_FALSE(dir.exists("Windows/PENDMOVE.TXT"));
  ASSERT_EQ(report.size(), 7u);
  EXPECT_EQ(report[0], "Deleted " + windows("APP\\NEWDRV.DLL"));
  EXPECT_EQ(report[1],
            "Renamed " + windows("App\\Temp\\TV0001") + " to " + windows("APP\\NEWDRV.DLL"));
  EXPECT_EQ(report[2], "Deleted " + windows("App\\junk.txt"));
  EXPECT_EQ(report[3].rfind("Cannot rename " + windows("App\\gone.tmp"), 0), 0u);
  EXPECT_EQ(report[4].rfind("Renamed " + dir.file("Windows") + "/WININIT.INI to ", 0), 0u);
  EXPECT_EQ(report[5],
            "Renamed " + windows("App\\NEWDRV.DLL") + " to " + windows("App\\final.dll"));
  EXPECT_EQ(report[6], "Deleted " + windows("App\\queued.txt"));

  report.clear();
  EXPECT_TRUE(tvprestart::carryOutRestart(dir.file("Windows"), &report));
  EXPECT_TRUE(report.empty());
}

// A restart carries out WININIT.INI and the queue as they stand, on every
// kind of Windows: a copy that a save left aside holds no steps.
TEST_F(PosixRestart, OnlyWininitItselfIsCarriedOutOnEveryKind) {
  for (const char* version : {"0x00000004", "0xC0000A04"}) {
    SCOPED_TRACE(version);
    environment.set("TVPAT_WINVER", version);
    dir.write("App/victim.dll", "kept");
    // The 8.3 form, which the Windows 95 family needs.
    std::string victim;
    ASSERT_TRUE(platform::getShortPath(windows("App\\victim.dll"), &victim).ok);
    const std::string lines = "[rename]\r\nNUL=" + victim + "\r\n";
    dir.write("Windows/" + platform::asideNameOf("WININIT.INI"), lines);
    dir.write("Windows/" + platform::asideNameOf("PENDMOVE.TXT"),
              "7\t" + windows("App\\victim.dll") + "\t\n");
    std::vector<std::string> report;
    EXPECT_TRUE(tvprestart::carryOutRestart(dir.file("Windows"), &report));
    EXPECT_EQ(dir.read("App/victim.dll"), "kept");
    dir.write("Windows/WININIT.INI", lines);
    dir.write("Windows/WININIT.BAK", "older");
    EXPECT_TRUE(tvprestart::carryOutRestart(dir.file("Windows"), &report));
    EXPECT_EQ(dir.read("Windows/WININIT.BAK"), lines);
  }
}

// WININIT.EXE of the Windows 95 family runs before long names are available:
// a line that names a long name finds nothing and changes nothing, and a
// file it puts in place has the 8.3 name of its line alone. The start of
// Windows NT takes long names.
TEST_F(PosixRestart, TheWindows95FamilyCarriesOutOnlyLinesOfEightDotThreeNames) {
  const struct {
    const char* version;
    const char* target;  // null: the line deletes the file
    bool shortNames;
    bool done;
  } rows[] = {
      {"0xC0000A04", "NEWDRV.DLL", true, true},
      {"0xC0000A04", "Viewer Help.hlp", true, true},
      {"0xC0000A04", "Viewer Help.hlp", false, false},
      {"0x00000004", "Viewer Help.hlp", false, true},
      {"0xC0000A04", nullptr, true, true},
      {"0xC0000A04", nullptr, false, false},
  };
  for (const auto& row : rows) {
    const std::string target = row.target != nullptr ? row.target : "Viewer Help.hlp";
    SCOPED_TRACE(std::string(row.version) + " " + target + (row.shortNames ? " short" : " long") +
                 (row.target != nullptr ? "" : " deleted"));
    dir.clear();
    environment.set("TVPAT_WINVER", row.version);
    const std::string product = "Program Files/Tavro Viewer/";
    dir.write("Windows/keep", "");
    dir.write(product + target, "old");
    dir.write(product + "ARCHIVE/TEMP/TV0001.TMP", "new");
    const auto named = [&](const std::string& relative) {
      std::string name = windows(product + relative);
      if (row.shortNames) {
        EXPECT_TRUE(platform::getShortPath(name, &name).ok);
      }
      return name;
    };
    const std::string installed = named(target);
    const std::string line = row.target != nullptr
                                 ? installed + "=" + named("ARCHIVE/TEMP/TV0001.TMP")
                                 : "NUL=" + installed;
    dir.write("Windows/WININIT.INI", "[rename]\r\n" + line + "\r\n");

    std::vector<std::string> report;
    EXPECT_EQ(row.done, tvprestart::carryOutRestart(dir.file("Windows"), &report));
    ASSERT_FALSE(report.empty());
    const std::string placed = installed.substr(installed.find_last_of("\\/") + 1);
    if (!row.done) {
      EXPECT_NE(report[0].find(": not an 8.3 name"), std::string::npos) << report[0];
      EXPECT_EQ(dir.read(product + target), "old");
      EXPECT_TRUE(dir.exists(product + "ARCHIVE/TEMP/TV0001.TMP"));
    } else if (row.target == nullptr) {
      EXPECT_FALSE(dir.exists(product + target));
    } else {
      // The long name goes with the old file; the new one has only the name
      // of the line.
      EXPECT_EQ(dir.read(product + placed), "new");
      EXPECT_EQ(dir.exists(product + target), placed == target);
    }
  }
}

TEST_F(PosixRestart, QueueMovesWithoutReplaceLeaveAnExistingTarget) {
  dir.write("Windows/x", "");
  dir.write("src", "s");
  dir.write("dst", "d");
  ASSERT_TRUE(platform::scheduleMoveAtRestart(windows("src"), windows("dst").c_str(), 4).ok);
  std::vector<std::string> report;
  EXPECT_FALSE(tvprestart::carryOutRestart(dir.file("Windows"), &report));
  EXPECT_EQ(dir.read("dst"), "d");
  EXPECT_EQ(dir.read("src"), "s");
  EXPECT_FALSE(dir.exists("Windows/PENDMOVE.TXT"));
}

}  // namespace
