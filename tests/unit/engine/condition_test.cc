#include <gtest/gtest.h>

#include <string>

#include "support/engine_fixture.h"

namespace {

class ConditionTest : public EngineTest {
 protected:
  void SetUp() override {
    start("[Patch]\r\n");
    config.setPlatform(kPlatformWindows95);
    temp.write("REGISTRY.REG",
               "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vendor]\r\n@=\"5.1\"\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n@=\"3.0\"\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n@=\"7\"\r\n\r\n");
  }

  // Decides the line "Condition0=U,1," + rest against a product root whose
  // [Version] Level is level.
  bool holds(const std::string& level, const std::string& rest) {
    rootIni->writeString("Version", "Level", level.c_str());
    std::string line = "Condition0=U,1," + rest;
    return dataFile->testCondition(line);
  }
};

TEST_F(ConditionTest, EveryModeComparesTrimmedTextWithoutCase) {
  struct Case {
    const char* level;
    const char* rest;
    bool expected;
  } cases[] = {
      {"2.0", "1,Version,Level,2.0", true},   {" 2.0", "1,Version,Level,2.0", true},
      {"2.00", "1,Version,Level,2.0", false}, {"abc", "1,Version,Level, ABC ", true},
      {"2.9", "2,Version,Level,2.10", true},  {"2.09", "2,Version,Level,2.10", false},
      {"2.09", "3,Version,Level,2.10", true}, {"2.9", "3,Version,Level,2.10", false},
      {"Z", "0,Version,Level,any", true},     {"Z", "0,Version,Level,", false},
      {"", "0,Version,Level,any", false},     {"b", "4,Version,Level,A,C", true},
      {"c", "4,Version,Level,A,C", true},     {"D", "4,Version,Level,A,C", false},
      {"0", "4,Version,Level,A,C", false},    {"Z", "4,Version,Level,A", true},
      {"Z", "4,Version,Level,A, ", true},     {"0", "4,Version,Level,A", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, holds(c.level, c.rest)) << c.level << " / " << c.rest;
  }
  // A force field that is no mode at all compares as "at or after".
  for (const char* force : {"7", "", "-1", "word"}) {
    std::string fields = std::string(force) + ",Version,Level,";
    EXPECT_TRUE(holds("B", fields + "A")) << force;
    EXPECT_FALSE(holds("A", fields + "B")) << force;
  }
}

TEST_F(ConditionTest, PlatformKindMustMatchAndLineBecomesItsBranch) {
  std::string line = "Condition0=UPD95,2,1,Version,Level,2.0";
  rootIni->writeString("Version", "Level", "2.0");
  EXPECT_FALSE(dataFile->testCondition(line));
  EXPECT_EQ("UPD95", line);
  line = "Condition0=UPD95,one,1,Version,Level,2.0";
  EXPECT_FALSE(dataFile->testCondition(line));
  config.setPlatform(kPlatformWindowsNt);
  line = "Condition0=UPD95,2,1,Version,Level,2.0";
  EXPECT_TRUE(dataFile->testCondition(line));
  for (const char* unusable :
       {"Condition0=UPD95,2,1,,Level,2.0", "Condition0=UPD95,,1,Version,Level",
        "Condition0=UPD95,2,1,Version,", "Condition0=UPD95,2,1,Version"}) {
    line = unusable;
    EXPECT_FALSE(dataFile->testCondition(line));
    EXPECT_EQ(unusable, line);
  }
}

TEST_F(ConditionTest, RegistryFormReadsDefaultValues) {
  const char* holding[] = {
      "Condition0=R,1,1,HKCU,Software\\\\Vendor,App,3.0",
      "Condition0=R,1,1,hkcu,Software\\\\Vendor,,5.1",
      "Condition0=R,1,1,HKLMachine,Software\\\\Vendor,,7",
      "Condition0=R,1,4,HKCU,Software\\\\Vendor,App,2,4",
  };
  for (const char* text : holding) {
    std::string line = text;
    EXPECT_TRUE(dataFile->testCondition(line)) << text;
    EXPECT_EQ("R", line);
  }
  std::string line = "Condition0=R,1,4,HKCU,Software\\\\Vendor,App,4,5";
  EXPECT_FALSE(dataFile->testCondition(line));
  // HKUSER names an INI section, so the product root's TAVRO.INI is read.
  rootIni->writeString("HKUSER", "Software", "9");
  line = "Condition0=R,1,1,HKUSER,Software,9";
  EXPECT_TRUE(dataFile->testCondition(line));
}

}  // namespace
