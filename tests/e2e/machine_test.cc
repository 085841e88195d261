// The harness itself: what a test writes through it must be what the
// program sees, and what a test leaves behind must go with the machine.
#include "e2e/machine.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(MachineTest, RegistryValuesReachTheProgramAndBack) {
  Machine machine;
  const std::string key = "HKEY_CURRENT_USER\\Software\\TvpatTest\\Deep\\Er";
  machine.setRegistryValue(key, "", "de\"fault\\");
  machine.setRegistryValue(key, "Named", "a value");
  machine.setRegistryValue(key, "named", "second");
  EXPECT_EQ(machine.getRegistryValue(key, ""), "de\"fault\\");
  EXPECT_EQ(machine.getRegistryValue(key, "NAMED"), "second");
  EXPECT_EQ(machine.getRegistryValue(key, "Other"), std::nullopt);
  EXPECT_TRUE(machine.registryKeyExists("HKEY_CURRENT_USER\\Software\\TvpatTest\\Deep"));
  EXPECT_FALSE(machine.registryKeyExists("HKEY_CURRENT_USER\\Software\\TvpatTest\\Other"));

  // The program reads the default value of the subkey Er of Deep.
  machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n");
  machine.writeProfile(
      "[Patch]\r\nCondition0=MAIN,2,1,HKCU,Software\\\\TvpatTest\\\\Deep,Er,de\"fault\\\\\r\n"
      "\r\n[MAIN]\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(result.out, "3 v2.00 Beta 6A\n7\n");
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST(MachineTest, WindowsDirectoryIsLeftAsFound) {
  std::string windowsDir;
  {
    Machine machine;
    windowsDir = machine.getWindowsDir();
    machine.writeFile(windowsDir + "/LEFTOVER.TXT", "x");
    machine.writeFile(windowsDir + "/WININIT.INI", "[rename]\r\n");
    machine.setPlatformKind(1);
  }
  Machine next;
  EXPECT_FALSE(next.exists(windowsDir + "/LEFTOVER.TXT"));
  EXPECT_FALSE(next.exists(windowsDir + "/WININIT.INI"));
  EXPECT_FALSE(next.registryKeyExists("HKEY_CURRENT_USER\\Software\\TvpatTest"));
  // The platform kind is back to NT: an NT condition holds.
  next.writeProductIni("[Version]\r\nLevel=2.0\r\n");
  next.writeProfile("[Patch]\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n[MAIN]\r\n");
  EXPECT_EQ(next.run().exitCode, 0);
}

}  // namespace
