#include "patch_planner.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "profile/profile.h"
#include "support/environment_guard.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

// A Windows NT machine in a temporary directory: the Windows directory
// naming the product root, a product at level 2 with patch OLD in its
// ledger and an older BIN\A.DLL and BIN\B.OLD, and a patch directory with a
// newer A.DLL.
class PatchPlannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product = temp.file("product");
    temp.write("windows/TAVRO.INI", "[Tavro]\r\nroot=" + product + "\r\n");
    temp.write("product/TAVRO.INI", "[Version]\r\nLevel=2\r\n\r\n[Install]\r\nPatch0=OLD\r\n");
    temp.write("patch/x", "");
    put("product/BIN/A.DLL", 1996);
    put("product/BIN/B.OLD", 1996);
    put("patch/A.DLL", 1999);
    environment.set("WINDIR", temp.file("windows").c_str());
    environment.set("TVPAT_WINVER", nullptr);
    environment.set("TVPAT_REGISTRY", nullptr);
  }

  // An empty file dated 1 January of the given year.
  void put(const std::string& relative, int year) {
    temp.write(relative, "");
    writeStampedFile(temp.file(relative), "", makeStamp(year));
  }
  static platform::DosStamp makeStamp(int year) { return makeDosStamp(year, 1, 1); }

  // The plan lines of a profile, without the first line (the machine).
  std::string plan(const std::string& text) {
    temp.write("patch/P.DAT", text);
    Profile profile(temp.file("patch/P.DAT"));
    PatchPlanner planner(&profile, temp.file("patch/P.DAT"), temp.file("patch"));
    planner.plan();
    std::string result;
    for (std::size_t i = 1; i < planner.getLines().size(); ++i) {
      result += planner.getLines()[i].text + "\n";
    }
    return result;
  }

  // The plan line of one entry, run alone in a section that holds.
  std::string planOf(const std::string& entries) {
    std::string all = plan("[Patch]\nCondition0=S,2,0,Version,Level,1\n[S]\n" + entries);
    std::string head = "condition group 0 holds: section [S] is carried out\n";
    std::size_t start = all.find(head);
    std::size_t end = all.rfind("no restart is needed\n");
    if (end == std::string::npos) end = all.rfind("a restart is needed");
    if (start == std::string::npos || end == std::string::npos) return all;
    return all.substr(start + head.size(), end - start - head.size());
  }

  // A product path as the run prints it.
  std::string at(const std::string& relative) const { return product + "\\" + relative; }

  TempDir temp;
  EnvironmentGuard environment;
  std::string product;
};

// Entries or a whole profile, and the plan lines expected of them.
struct PlanRow {
  const char* input;
  std::string expected;
};

TEST_F(PatchPlannerTest, PredictsWhatFailsAndWhatWaitsForTheRestart) {
  const PlanRow rows[] = {
      {"RENAME1=TAVRO,NOSUCH.DLL,NEW.DLL",
       "RENAME " + at("NOSUCH.DLL") + " to " + at("NEW.DLL") +
           ": fails: the source does not exist (an error line is written)"},
      {"RENAME1=TAVRO,BIN\\\\A.DLL,NODIR\\\\A.DLL",
       "RENAME " + at("BIN\\A.DLL") + " to " + at("NODIR\\A.DLL") + ": fails: the directory " +
           at("NODIR") + " does not exist (an error line is written)"},
      {"RENAME1=TAVRO,BIN\\\\A.DLL,BIN\\\\B.OLD",
       "RENAME " + at("BIN\\A.DLL") + " to " + at("BIN\\B.OLD") +
           ": waits for the restart: the file there is neither backed up nor forced away"},
      {"COPY1=TAVRO,BIN\\\\A.DLL,BIN\\\\A.DLL\\\\X",
       "COPY " + at("BIN\\A.DLL\\X") + " from " + at("BIN\\A.DLL") +
           ": fails: " + at("BIN\\A.DLL") + " is not a directory (an error line is written)"},
      {"FILE1=TAVRO,A.DLL,NODIR",
       "FILE " + at("NODIR") + ": fails: the directory does not exist (an error line is written)"},
      {"FILE1=TAVRO,MISSING.DLL,BIN",
       "FILE " + at("BIN\\MISSING.DLL") + ": fails: " + temp.file("patch") +
           "\\MISSING.DLL cannot be read (an error line is written)"},
      {"FILE1=TAVRO,A.DLL,BIN", "FILE " + at("BIN\\A.DLL") +
                                    ": install (newer than the installed file); now, keeping " +
                                    "the installed file as " + at("BIN\\A.OLD") +
                                    " (at the restart instead while it is " + "in use)"},
      {"FILE1=TAVRO,A.DLL,BIN,B.OLD",
       "FILE " + at("BIN\\B.OLD") + ": install (newer than the installed file); waits for the " +
           "restart: no backup moves the installed file away"},
      {"FILE1=TAVRO,A.DLL,BIN,,1,0",
       "FILE " + at("BIN\\A.DLL") + ": install (newer than the installed file); waits for the " +
           "restart: no backup moves the installed file away"},
      {"FILE1=TAVRO,A.DLL,BIN\nFILE2=TAVRO,A.DLL,BIN",
       "FILE " + at("BIN\\A.DLL") + ": install (newer than the installed file); now, keeping " +
           "the installed file as " + at("BIN\\A.OLD") + " (at the restart instead while it is " +
           "in use)\nFILE " + at("BIN\\A.DLL") + ": skipped (same time stamp)"},
      {"RENAME1=TAVRO,BIN\\\\A.DLL,BIN\\\\C.DLL\nERASE1=TAVRO,BIN\\\\A.DLL",
       "RENAME " + at("BIN\\A.DLL") + " to " + at("BIN\\C.DLL") + ": now\nERASE " +
           at("BIN\\A.DLL") + ": nothing to do, the file is not there"},
      {"ERASE1=TAVRO,BIN\\\\B.OLD", "ERASE " + at("BIN\\B.OLD") + ": deleted now"},
      {"REG1=HKCU,Software\\\\Nothing",
       "REG HKCU\\Software\\Nothing: fails: the key does not exist (an error line is written)"},
      {"REG1=HKCU,Software\\\\New,Name,1\nREG2=HKCU,Software\\\\New,Name",
       "REG HKCU\\Software\\New: sets \"Name\" to \"1\"\nREG HKCU\\Software\\New: deletes the "
       "value \"Name\""},
      {"INI1=TAVRO,TAVRO.INI,Version,Level,3\nINI2=TAVRO,TAVRO.INI,Version,Level",
       "INI " + at("TAVRO.INI") + " [Version] Level=3 (was \"2\")\nINI " + at("TAVRO.INI") +
           " [Version] Level deleted (was \"3\")"},
  };
  for (const PlanRow& row : rows) {
    EXPECT_EQ(row.expected + "\n", planOf(std::string(row.input) + "\n")) << row.input;
  }
}

TEST_F(PatchPlannerTest, FollowsTheRunThroughLedgerGroupsAndRestart) {
  const PlanRow rows[] = {
      {"[Patch]\nPatch=old\nCondition0=S,2,0,Version,Level,1\n[S]\n",
       "patch old is installed already: the run stops (exit code 1)\n"},
      {"[Patch]\nPatch=NEW\nCondition0=S,1,0,Version,Level,1\n[S]\n",
       "patch NEW is not installed yet\n"
       "condition group 0 does not hold: it is for OS 1, this machine is 2 (Windows NT)\n"
       "no condition group holds: the run stops (exit code 1)\n"},
      // A group is tested after the sections of the groups before it ran;
      // NT numbers the patch by the copy it writes, the Windows directory's.
      {"[Patch]\nPatch=NEW\nCondition0=S,2,1,Version,Level,2\nCondition1=T,2,1,Version,Level,9\n"
       "Reboot Program=GO.EXE\n[S]\nINI1=TAVRO,TAVRO.INI,Version,Level,9\n[T]\nREBOOT1=1\n",
       "patch NEW is not installed yet\n"
       "condition group 0 holds: section [S] is carried out\n"
       "INI " +
           at("TAVRO.INI") +
           " [Version] Level=9 (was \"2\")\n"
           "condition group 1 holds: section [T] is carried out\n"
           "patch NEW is recorded as Patch0 in the Windows directory's TAVRO.INI\n"
           "a restart is needed: the reboot program GO.EXE is started\n"},
      {"[Patch]\nCondition0=S,2,0,Version,Level,1\n[S]\nREBOOT1=1\nREBOOT2=0\n",
       "condition group 0 holds: section [S] is carried out\nno restart is needed\n"},
  };
  for (const PlanRow& row : rows) {
    EXPECT_EQ(row.expected, plan(row.input)) << row.input;
  }
}

TEST_F(PatchPlannerTest, ChangesNothingOnTheMachine) {
  // A run would make ARCHIVE and ARCHIVE\TEMP and back A.DLL up; the plan
  // must not, and must leave the stamps alone.
  plan(
      "[Patch]\nPatch=NEW\nCondition0=S,2,0,Version,Level,1\n[S]\nFILE1=TAVRO,A.DLL,BIN\n"
      "INI1=TAVRO,TAVRO.INI,Version,Level,3\nREG1=HKCU,Software\\\\New,Name,1\n");
  EXPECT_FALSE(temp.exists("product/ARCHIVE"));
  EXPECT_FALSE(temp.exists("product/BIN/A.OLD"));
  EXPECT_FALSE(temp.exists("windows/REGISTRY.REG"));
  EXPECT_EQ("[Version]\r\nLevel=2\r\n\r\n[Install]\r\nPatch0=OLD\r\n",
            temp.read("product/TAVRO.INI").value_or(""));
  EXPECT_EQ(stampValue(makeStamp(1996)), readStampValue(temp.file("product/BIN/A.DLL")));
}

}  // namespace
