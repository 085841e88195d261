// Patch selection and the section walk seen from outside: the ledger, the
// condition groups, missing sections, unknown lines and INI entries, on a
// scratch machine per test, natively and under Wine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kProductIni[] = "[Version]\r\nLevel=2.0\r\n";

class EngineRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", numberedCatalogue(36));
    machine.writeProductIni(kProductIni);
  }

  std::string productFile(const std::string& name) const {
    return machine.readFile(machine.getProductDir() + "/" + name).value_or("<missing>");
  }
  std::string windowsFile(const std::string& name) const {
    return machine.readFile(machine.getWindowsDir() + "/" + name).value_or("<missing>");
  }

  Machine machine;
};

// True when every piece stands in text, each after the one before.
bool inOrder(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t from = 0;
  for (const std::string& piece : pieces) {
    std::size_t at = text.find(piece, from);
    if (at == std::string::npos) return false;
    from = at + piece.size();
  }
  return true;
}

TEST_F(EngineRunTest, OneRunFromLedgerToRestartRequest) {
  machine.setPlatformKind(1);
  machine.writeProfile(
      "[Patch]\r\nPatch=FIX12\r\nCondition0=UPD95,1,1,Version,Level,2.0\r\n\r\n"
      "[UPD95]\r\nREBOOT1=1\r\n");
  RunResult result = machine.run({"-d"});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("", result.err);
  EXPECT_TRUE(inOrder(
      result.out,
      {"Opening installation profile\nInstallation profile open\n"
       "Processing installation profile\nChecking patch\nPatch *NOT* already installed\n"
       "Next Patch: 0\nChecking Conditions\n"
       "Testing Condition\n\tbranch : UPD95\n\tOS     : 1\n\tforce  : 1\n\tsection: Version\n"
       "\tkey    : Level\n\trange s: 2.0\n\trange e: (null)\nTesting OS\n\tDatafile:  1\n"
       "\tDetection: 1\nTesting Condition\n\tTest Val: 2.0\nProcessing section: UPD95\n",
       "Message 7\nMessage 8\n"}))
      << result.out;
  EXPECT_TRUE(machine.exists(machine.getProductDir() + "/ARCHIVE/TEMP"));
  std::string windowsIni = windowsFile("TAVRO.INI");
  EXPECT_EQ("\r\n\r\n[Install]\r\nPatch0=FIX12\r\n",
            windowsIni.substr(windowsIni.find("Interactive=1") + 13));
  EXPECT_EQ(std::string(kProductIni) + "\r\n[Install]\r\nPatch0=FIX12\r\n",
            productFile("TAVRO.INI"));

  result = machine.run();
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ("\n\aMessage 11\n", result.err);
  EXPECT_EQ(std::string::npos, result.out.find("Message 7"));
}

// The ledger after a run of FIX12 on each kind of Windows: on the 95 family
// both copies, under the number free in the product root's, which replaces a
// stale key of that number in the Windows directory's; on NT the Windows
// directory's copy alone, under the number free in it; on Win32s neither.
struct LedgerRow {
  int kind;
  const char* productLedger;
  const char* windowsLedger;
  const char* windowsLedgerAfter;
  const char* productAddition;
};

TEST_F(EngineRunTest, LedgerCopiesFollowThePlatformKind) {
  const char kOne[] = "\r\n[Install]\r\nPatch0=OLD\r\n";
  const char kTwo[] = "\r\n[Install]\r\nPatch0=OLD1\r\nPatch1=OLD2\r\n";
  const char kStale[] = "\r\n[Install]\r\nPatch2=STALE\r\n";
  const LedgerRow rows[] = {
      {1, kOne, "", "\r\n[Install]\r\nPatch1=FIX12\r\n", "Patch1=FIX12\r\n"},
      {2, kOne, "", "\r\n[Install]\r\nPatch0=FIX12\r\n", ""},
      {4, kOne, "", "", ""},
      {1, kTwo, kStale, "\r\n[Install]\r\nPatch2=FIX12\r\n", "Patch2=FIX12\r\n"},
      {2, kTwo, kStale, "\r\n[Install]\r\nPatch2=STALE\r\nPatch0=FIX12\r\n", ""},
      {4, kTwo, kStale, kStale, ""},
  };
  machine.writeProfile(
      "[Patch]\r\nPatch=FIX12\r\nCondition0=MAIN,1,1,Version,Level,2.0\r\n"
      "Condition1=MAIN,2,1,Version,Level,2.0\r\nCondition2=MAIN,4,1,Version,Level,2.0\r\n"
      "\r\n[MAIN]\r\n");
  for (const LedgerRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.kind) + row.windowsLedger);
    machine.setPlatformKind(row.kind);
    const std::string productIni = std::string(kProductIni) + row.productLedger;
    const std::string windowsHead = "[Tavro]\r\nroot=" + machine.shownProductDir() + "\r\n";
    machine.writeProductIni(productIni);
    machine.writeWindowsIni(windowsHead + row.windowsLedger);
    EXPECT_EQ(0, machine.run().exitCode);
    EXPECT_EQ(windowsHead + row.windowsLedgerAfter, windowsFile("TAVRO.INI"));
    EXPECT_EQ(productIni + row.productAddition, productFile("TAVRO.INI"));
  }
}

// Every group that holds runs its section, in the order of the numbers,
// until the first number missing; a key of the wrong spelling does not
// count, and a missing section or a line of no known kind is reported.
struct HoldingRow {
  const char* profile;
  const char* runIni;
  const char* err;
};

TEST_F(EngineRunTest, HoldingGroupsRunInOrderUntilTheFirstMissingNumber) {
  const char kSections[] =
      "[A]\r\nINI=TAVRO,RUN.INI,Run,A,1\r\n"
      "[B]\r\nINI=TAVRO,RUN.INI,Run,B,1\r\n"
      "[C]\r\nINI=TAVRO,RUN.INI,Run,C,1\r\n"
      "; the next line is of no known kind\r\nINI 2=TAVRO,RUN.INI,Run,X,1\r\n"
      "INI3=TAVRO,RUN.INI,Run,C2,1\r\n"
      "[D]\r\nINI=TAVRO,RUN.INI,Run,D,1\r\n"
      "[E]\r\nINI=TAVRO,RUN.INI,Run,E,1\r\n";
  const HoldingRow rows[] = {
      {"Condition0=A,2,1,Version,Level,2.0\r\nCondition0=B,2,1,Version,Level,3.0\r\n"
       "Condition1=C,2,1,Version,Level,2.0\r\nCondition2=Missing,2,1,Version,Level,2.0\r\n"
       "Condition3=D,2,3,Version,Level,2.5\r\nCondition4=A,1,1,Version,Level,2.0\r\n"
       "Condition6=A,2,1,Version,Level,2.0\r\n",
       "[Run]\r\nC=1\r\nC2=1\r\nD=1\r\n", "\n\aMessage 18\n\n\aMessage 18\n"},
      {"Condition0=A,2,1,Version,Level,2.0\r\nCondition0=B,2,1,Version,Level,9.9\r\n"
       "Condition1=D,2,1,Version,Level,2.0\r\nOther=1\r\n"
       "condition2=E,2,2,Version,Level,1.0\r\nCondition3 =A,2,1,Version,Level,2.0\r\n"
       " Condition3=A,2,1,Version,Level,2.0\r\nCondition4=A,2,1,Version,Level,2.0\r\n",
       "[Run]\r\nD=1\r\nE=1\r\n", ""},
  };
  for (const HoldingRow& row : rows) {
    SCOPED_TRACE(row.runIni);
    machine.writeFile(machine.getProductDir() + "/RUN.INI", "");
    machine.writeProfile(std::string("[Patch]\r\n") + row.profile + kSections);
    RunResult result = machine.run();
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(row.err, result.err);
    EXPECT_EQ(row.runIni, productFile("RUN.INI"));
  }
}

TEST_F(EngineRunTest, IniEntriesReachBothProductFilesAndNewFiles) {
  std::string longValue(300, 'v');
  machine.writeProfile(
      "[Patch]\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n[MAIN]\r\n"
      "INI1=WINDOWS,TAVRO.INI,Tavro,Patched,yes\r\n"
      "INI2=tavro,tavro.ini,Version,Level,2.1\r\n"
      "INI3=TAVRO,NEW.INI,Paths,Base,\\\\TAVRO\\\\BIN;\\\\WINDOWS;" +
      longValue + "\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("", result.err);
  EXPECT_NE(std::string::npos, windowsFile("TAVRO.INI").find("[Tavro]\r\nroot="));
  EXPECT_NE(std::string::npos, windowsFile("TAVRO.INI").find("Patched=yes\r\n"));
  EXPECT_EQ("[Version]\r\nLevel=2.1\r\n", productFile("TAVRO.INI"));
  EXPECT_EQ("[Paths]\r\nBase=" + machine.shownProductDir() + "\\BIN;" + machine.shownWindowsDir() +
                ";" + longValue + "\r\n",
            productFile("NEW.INI"));
}

}  // namespace
