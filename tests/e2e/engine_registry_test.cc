// REG entries and registry conditions seen from outside, on the stand-in's
// REGEDIT4 file natively and on the real registry under Wine. Every key
// lives below HKEY_CURRENT_USER\Software\TvpatTest, which the machine clears.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kBase[] = "HKEY_CURRENT_USER\\Software\\TvpatTest";

class EngineRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", numberedCatalogue(36));
    machine.writeProductIni("[Version]\r\nLevel=2.0\r\n");
  }

  // Runs a profile whose one section holds the given entries.
  RunResult runEntries(const std::string& entries, const std::vector<std::string>& arguments = {}) {
    machine.writeProfile("[Patch]\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n[MAIN]\r\n" +
                         entries);
    return machine.run(arguments);
  }

  Machine machine;
};

TEST_F(EngineRegistryTest, CreatesSetsAndDeletesValues) {
  RunResult result = runEntries(
      "REG1=HKCU,Software\\\\TvpatTest\\\\Vendor\\\\App,Version,1.0\r\n"
      "REG2=hkcu,Software\\\\TvpatTest\\\\Vendor\\\\App,Path,\\\\TAVRO\\\\BIN\r\n"
      "REG3=HKCU,Software\\\\TvpatTest\\\\Vendor\\\\App,,default\r\n"
      "REG4=HKCU,Software\\\\TvpatTest\\\\Vendor,Gone,x\r\n"
      "REG5=HKCU,Software\\\\TvpatTest\\\\Vendor,Gone\r\n");
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("", result.err);
  const std::string app = std::string(kBase) + "\\Vendor\\App";
  EXPECT_EQ("1.0", machine.getRegistryValue(app, "Version").value_or("<missing>"));
  EXPECT_EQ(machine.shownProductDir() + "\\BIN",
            machine.getRegistryValue(app, "Path").value_or("<missing>"));
  EXPECT_EQ("default", machine.getRegistryValue(app, "").value_or("<missing>"));
  EXPECT_TRUE(machine.registryKeyExists(std::string(kBase) + "\\Vendor"));
  EXPECT_FALSE(machine.getRegistryValue(std::string(kBase) + "\\Vendor", "Gone").has_value());
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
  machine.setRegistryValue(std::string(kBase) + "\\Product", "", "4.2");
  machine.setRegistryValue(std::string(kBase) + "\\Product\\Edition", "", "Pro");
  machine.writeProfile(
      "[Patch]\r\n"
      "Condition0=A,2,4,HKCU,Software\\\\TvpatTest,Product,4.0,4.5\r\n"
      "Condition0=A,2,1,HKCU,Software\\\\TvpatTest\\\\Product,Edition,pro\r\n"
      "Condition1=B,2,1,HKCU,Software\\\\TvpatTest,Product,4.0\r\n"
      "Condition2=C,2,1,HKCU,Software\\\\TvpatTest,Nothing,x\r\n"
      "Condition3=D,2,2,HKCU,Software\\\\TvpatTest\\\\Product,,4.10\r\n"
      "[A]\r\nINI=TAVRO,RUN.INI,Run,A,1\r\n[B]\r\nINI=TAVRO,RUN.INI,Run,B,1\r\n"
      "[C]\r\nINI=TAVRO,RUN.INI,Run,C,1\r\n[D]\r\nINI=TAVRO,RUN.INI,Run,D,1\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("\n\aMessage 27:\n\tHKCU\\Software\\TvpatTest\\Nothing\n", result.err);
  EXPECT_EQ("[Run]\r\nA=1\r\nD=1\r\n",
            machine.readFile(machine.getProductDir() + "/RUN.INI").value_or("<missing>"));
}

}  // namespace
