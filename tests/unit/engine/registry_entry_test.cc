#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "support/engine_fixture.h"

namespace {

class RegistryEntryTest : public EngineTest {
 protected:
  void SetUp() override { start("[Patch]\r\n"); }

  bool keyExists(const char* path) {
    platform::RegistryKey key;
    if (!platform::openRegistryKey(platform::getRootKey(platform::RegistryRoot::kCurrentUser), path,
                                   platform::RegistryAccess::kRead, &key)
             .ok) {
      return false;
    }
    platform::closeRegistryKey(key);
    return true;
  }

  std::string defaultValue(const char* path) {
    std::string value = "<none>";
    platform::RegistryKey root = platform::getRootKey(platform::RegistryRoot::kCurrentUser);
    platform::queryRegistryDefaultValue(root, path, 256, &value);
    return value;
  }

  // Runs one entry and keeps its error output.
  bool run(const std::string& line) {
    beginCapture();
    bool done = dataFile->processRegistry(line);
    endCapture();
    return done;
  }
};

TEST_F(RegistryEntryTest, CreatesEveryLevelAndSetsTheValue) {
  EXPECT_TRUE(run("REG=hkcu,Software\\\\Vendor\\\\App,Version,\\\\TAVRO\\\\BIN"));
  EXPECT_TRUE(keyExists("Software\\Vendor\\App"));
  EXPECT_NE(std::string::npos, read("REGISTRY.REG").find("\"Version\"=\"" + rootDir + "\\\\BIN\""));
  EXPECT_TRUE(run("REG=HKCU,Software\\\\Vendor\\\\App,,"));
  EXPECT_EQ("", defaultValue("Software\\Vendor\\App"));
  EXPECT_TRUE(run("REG=HKCU,Software\\\\Vendor,,top"));
  EXPECT_EQ("top", defaultValue("Software\\Vendor"));
  EXPECT_EQ("", err);
}

TEST_F(RegistryEntryTest, DeletesOneValue) {
  ASSERT_TRUE(run("REG=HKCU,Software\\\\Vendor,Version,1.0"));
  ASSERT_TRUE(run("REG=HKCU,Software\\\\Vendor,Other,2.0"));
  EXPECT_TRUE(run("REG=HKCU,Software\\\\Vendor,Version"));
  std::string file = read("REGISTRY.REG");
  EXPECT_EQ(std::string::npos, file.find("\"Version\""));
  EXPECT_NE(std::string::npos, file.find("\"Other\"=\"2.0\""));
  EXPECT_FALSE(run("REG=HKCU,Software\\\\Vendor,Version"));
  EXPECT_EQ("\n\aM25:\n\tSoftware\\Vendor\\Version\n", err);
}

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
