// Patch selection and the section walk seen from outside: the ledger, the
// condition groups, missing sections, unknown lines, INI and REG entries and
// registry conditions, on a scratch machine per test, natively and under
// Wine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kProductIni[] = "[Version]\r\nLevel=2.0\r\n";

const char kBase[] = "HKEY_CURRENT_USER\\Software\\TvpatTest";

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
  // Runs a profile whose one section, held by every kind of Windows, holds
  // the given entries.
  RunResult runEntries(const std::string& entries, const std::vector<std::string>& arguments = {}) {
    machine.writeProfile("[Patch]\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n[MAIN]\r\n" +
                         entries);
    return machine.run(arguments);
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
TEST_F(EngineRunTest, LedgerCopiesFollowThePlatformKind) {
  const char kOne[] = "\r\n[Install]\r\nPatch0=OLD\r\n";
  const char kTwo[] = "\r\n[Install]\r\nPatch0=OLD1\r\nPatch1=OLD2\r\n";
  const char kStale[] = "\r\n[Install]\r\nPatch2=STALE\r\n";
  const struct LedgerRow {
    int kind;
    const char* productLedger;
    const char* windowsLedger;
    const char* windowsLedgerAfter;
    const char* productAddition;
  } rows[] = {
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
  // The two TAVRO.INI files are edited through the run's own copies, so the
  // edits survive their write-back at the end; a TAVRO.INI elsewhere is a
  // file like any other.
  std::string longValue(300, 'v');
  machine.makeDirectory(machine.getProductDir() + "/SUB");
  RunResult result = runEntries(
      "INI1=WINDOWS,TAVRO.INI,Tavro,Patched,yes\r\n"
      "INI2=tavro,tavro.ini,Version,Level,2.1\r\n"
      "INI3=TAVRO,SUB\\\\TAVRO.INI,Version,Level,9\r\n"
      "INI4=TAVRO,NEW.INI,Paths,Base,\\\\TAVRO\\\\BIN;\\\\WINDOWS;" +
      longValue + "\r\nINI5=TAVRO,NEW.INI,Paths,Empty,\r\n");
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("", result.err);
  EXPECT_NE(std::string::npos, windowsFile("TAVRO.INI").find("[Tavro]\r\nroot="));
  EXPECT_NE(std::string::npos, windowsFile("TAVRO.INI").find("Patched=yes\r\n"));
  EXPECT_EQ("[Version]\r\nLevel=2.1\r\n", productFile("TAVRO.INI"));
  EXPECT_EQ("[Version]\r\nLevel=9\r\n", productFile("SUB/TAVRO.INI"));
  EXPECT_EQ("[Paths]\r\nBase=" + machine.shownProductDir() + "\\BIN;" + machine.shownWindowsDir() +
                ";" + longValue + "\r\nEmpty=\r\n",
            productFile("NEW.INI"));
}

// REG entries and registry conditions, on the stand-in's REGEDIT4 file
// natively and on the real registry under Wine. Every key lives below
// HKEY_CURRENT_USER\Software\TvpatTest, which the machine clears.
using EngineRegistryTest = EngineRunTest;

TEST_F(EngineRegistryTest, CreatesSetsAndDeletesValues) {
  // Every missing level is made; a value may be empty or the default one;
  // deleting a value keeps its neighbours, and deleting one that is gone is
  // reported.
  RunResult result = runEntries(
      "REG1=HKCU,Software\\\\TvpatTest\\\\Vendor\\\\App,Version,1.0\r\n"
      "REG2=hkcu,Software\\\\TvpatTest\\\\Vendor\\\\App,Path,\\\\TAVRO\\\\BIN\r\n"
      "REG3=HKCU,Software\\\\TvpatTest\\\\Vendor\\\\App,,default\r\n"
      "REG4=HKCU,Software\\\\TvpatTest\\\\Vendor\\\\Blank,,\r\n"
      "REG5=HKCU,Software\\\\TvpatTest\\\\Vendor,Gone,x\r\n"
      "REG6=HKCU,Software\\\\TvpatTest\\\\Vendor,Kept,2.0\r\n"
      "REG7=HKCU,Software\\\\TvpatTest\\\\Vendor,Gone\r\n"
      "REG8=HKCU,Software\\\\TvpatTest\\\\Vendor,Gone\r\n"
      "REG9=HKCU,Software\\\\TvpatTest\\\\Vendor,,top\r\n");
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("\n\aMessage 25:\n\tSoftware\\TvpatTest\\Vendor\\Gone\n", result.err);
  const std::string vendor = std::string(kBase) + "\\Vendor";
  const std::string app = vendor + "\\App";
  EXPECT_EQ("1.0", machine.getRegistryValue(app, "Version").value_or("<missing>"));
  EXPECT_EQ(machine.shownProductDir() + "\\BIN",
            machine.getRegistryValue(app, "Path").value_or("<missing>"));
  EXPECT_EQ("default", machine.getRegistryValue(app, "").value_or("<missing>"));
  EXPECT_EQ("", machine.getRegistryValue(vendor + "\\Blank", "").value_or("<missing>"));
  EXPECT_FALSE(machine.getRegistryValue(vendor, "Gone").has_value());
  EXPECT_EQ("2.0", machine.getRegistryValue(vendor, "Kept").value_or("<missing>"));
  EXPECT_EQ("top", machine.getRegistryValue(vendor, "").value_or("<missing>"));
}

// A REG entry without a value name deletes the key with everything below
// it, however deep and whatever the length of the names, and leaves its
// neighbours; one naming a key or value that is not there is reported and
// deletes nothing.
struct DeleteRow {
  const char* entry;
  const char* err;
  bool deletesTree;
};

TEST_F(EngineRegistryTest, DeletesADeepTreeAndReportsAMissingKey) {
  const DeleteRow rows[] = {
      {"REG=HKCU,Software\\\\TvpatTest\\\\Tree", "", true},
      {"REG=HKCU,Software\\\\TvpatTest\\\\Nobody",
       "\n\aMessage 19:\n\tSoftware\\TvpatTest\\Nobody\\(null)\n", false},
      {"REG=HKCU,Software\\\\TvpatTest\\\\Nobody,Value",
       "\n\aMessage 19:\n\tSoftware\\TvpatTest\\Nobody\\Value\n", false},
  };
  // Three subkeys with subkeys of their own, one of them named with 100
  // characters, well within the registry's 255.
  const std::string longName(100, 'N');
  for (const DeleteRow& row : rows) {
    SCOPED_TRACE(row.entry);
    for (const char* child : {"A", "B", "C"}) {
      for (const std::string& grandchild : {std::string("X"), std::string("Y"), longName}) {
        machine.setRegistryValue(std::string(kBase) + "\\Tree\\" + child + "\\" + grandchild, "v",
                                 "1");
      }
    }
    machine.setRegistryValue(std::string(kBase) + "\\Keep", "v", "1");
    RunResult result = runEntries(std::string(row.entry) + "\r\n", {"-d"});
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(row.err, result.err);
    EXPECT_EQ(row.deletesTree,
              result.out.find("Deleting a registry subtree\n") != std::string::npos);
    EXPECT_EQ(!row.deletesTree, machine.registryKeyExists(std::string(kBase) + "\\Tree\\B\\Y"));
    EXPECT_EQ("1", machine.getRegistryValue(std::string(kBase) + "\\Keep", "v").value_or(""));
  }
}

TEST_F(EngineRegistryTest, ConditionsReadCurrentUserValues) {
  // A key or value that is not there is reported even when the run is not
  // interactive.
  machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                          "\r\n[Patch]\r\nInteractive=0\r\n");
  machine.setRegistryValue(std::string(kBase) + "\\Product", "", "4.2");
  machine.setRegistryValue(std::string(kBase) + "\\Product\\Edition", "", "Pro");
  machine.writeProfile(
      "[Patch]\r\n"
      "Condition0=A,2,4,HKCU,Software\\\\TvpatTest,Product,4.0,4.5\r\n"
      "Condition0=A,2,1,HKCU,Software\\\\TvpatTest\\\\Product,Edition,pro\r\n"
      "Condition1=B,2,1,HKCU,Software\\\\TvpatTest,Product,4.0\r\n"
      "Condition2=C,2,1,HKCU,Software\\\\TvpatTest,Nothing,x\r\n"
      "Condition3=D,2,2,HKCU,Software\\\\TvpatTest\\\\Product,,4.10\r\n"
      "Condition4=E,2,1,HKCU,Software\\\\TvpatTest\\\\Nobody,App,3.0\r\n"
      "[A]\r\nINI=TAVRO,RUN.INI,Run,A,1\r\n[B]\r\nINI=TAVRO,RUN.INI,Run,B,1\r\n"
      "[C]\r\nINI=TAVRO,RUN.INI,Run,C,1\r\n[D]\r\nINI=TAVRO,RUN.INI,Run,D,1\r\n"
      "[E]\r\nINI=TAVRO,RUN.INI,Run,E,1\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(
      "\n\aMessage 27:\n\tHKCU\\Software\\TvpatTest\\Nothing\n"
      "\n\aMessage 19:\n\tHKCU\\Software\\TvpatTest\\Nobody\n",
      result.err);
  EXPECT_EQ("[Run]\r\nA=1\r\nD=1\r\n",
            machine.readFile(machine.getProductDir() + "/RUN.INI").value_or("<missing>"));
}

}  // namespace
