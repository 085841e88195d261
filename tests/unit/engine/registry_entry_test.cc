#include <gtest/gtest.h>

#include <string>

#include "support/engine_fixture.h"

namespace {

class RegistryEntryTest : public EngineTest {
 protected:
  void SetUp() override { start("[Patch]\r\n"); }

  // Runs one entry and keeps its error output.
  bool run(const std::string& line) {
    beginCapture();
    bool done = dataFile->processRegistry(line);
    endCapture();
    return done;
  }
};

TEST_F(RegistryEntryTest, RejectsUnknownRootsAndEntriesWithoutPathOrKey) {
  ASSERT_TRUE(run("REG=HKCU,Software\\\\Vendor,Version,1.0"));
  std::string before = read("REGISTRY.REG");
  for (const char* line : {"REG=HKEY_CURRENT_USER,Software,V,1", "REG=HKCUX,Software,V,1",
                           "REG=,Software,V,1", "REG", "REG=HKCU", "REG=HKCU,,"}) {
    EXPECT_FALSE(run(line)) << line;
    EXPECT_EQ("\n\aM18\n", err) << line;
  }
  EXPECT_EQ(before, read("REGISTRY.REG"));
}

}  // namespace
