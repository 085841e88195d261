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
    std::string catalogue;
    for (int n = 1; n <= 36; ++n) catalogue += "Message " + std::to_string(n) + "\r\n";
    machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", catalogue);
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

TEST_F(EngineRunTest, LedgerCopiesFollowThePlatformKind) {
  const std::string profile =
      "[Patch]\r\nPatch=FIX12\r\nCondition0=MAIN,1,1,Version,Level,2.0\r\n"
      "Condition1=MAIN,2,1,Version,Level,2.0\r\nCondition2=MAIN,4,1,Version,Level,2.0\r\n"
      "\r\n[MAIN]\r\n";
  for (int kind : {1, 2, 4}) {
    SCOPED_TRACE(kind);
    machine.setPlatformKind(kind);
    machine.writeProductIni(std::string(kProductIni) + "\r\n[Install]\r\nPatch0=OLD\r\n");
    machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() + "\r\n");
    machine.writeProfile(profile);
    RunResult result = machine.run();
    EXPECT_EQ(0, result.exitCode);
    // NT numbers the patch by its own copy, the Windows directory's.
    const std::string record = kind == 2 ? "Patch0=FIX12\r\n" : "Patch1=FIX12\r\n";
    bool windowsCopy = windowsFile("TAVRO.INI").find(record) != std::string::npos;
    bool productCopy = productFile("TAVRO.INI").find(record) != std::string::npos;
    EXPECT_EQ(kind != 4, windowsCopy);
    EXPECT_EQ(kind == 1, productCopy);
  }
}

TEST_F(EngineRunTest, HoldingGroupsRunInOrderAndFailingOnesDoNot) {
  machine.writeProfile(
      "[Patch]\r\n"
      "Condition0=A,2,1,Version,Level,2.0\r\nCondition0=B,2,1,Version,Level,3.0\r\n"
      "Condition1=C,2,1,Version,Level,2.0\r\nCondition2=Missing,2,1,Version,Level,2.0\r\n"
      "Condition3=D,2,3,Version,Level,2.5\r\nCondition4=A,1,1,Version,Level,2.0\r\n"
      "Condition6=A,2,1,Version,Level,2.0\r\n"
      "[A]\r\nINI=TAVRO,RUN.INI,Run,A,1\r\n"
      "[B]\r\nINI=TAVRO,RUN.INI,Run,B,1\r\n"
      "[C]\r\nINI=TAVRO,RUN.INI,Run,C,1\r\n"
      "; the next line is of no known kind\r\nINI 2=TAVRO,RUN.INI,Run,X,1\r\n"
      "INI3=TAVRO,RUN.INI,Run,C2,1\r\n"
      "[D]\r\nINI=TAVRO,RUN.INI,Run,D,1\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(0, result.exitCode);
  // One report for the missing section, one for the line of no known kind.
  EXPECT_EQ("\n\aMessage 18\n\n\aMessage 18\n", result.err);
  EXPECT_EQ("[Run]\r\nC=1\r\nC2=1\r\nD=1\r\n", productFile("RUN.INI"));
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
