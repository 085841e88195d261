#include "driver/startup.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config_data.h"
#include "profile/profile.h"
#include "support/environment_guard.h"
#include "support/temp_dir.h"

namespace {

struct Switches {
  int interactive;
  int debug;
  std::string profilePath;
};

Switches parse(const std::vector<std::string>& arguments) {
  ConfigData config;
  std::string profilePath = "PROG.DAT";
  applySwitches(arguments, &config, &profilePath);
  return {config.getInteractive(), config.getDebug(), profilePath};
}

TEST(SwitchesTest, InteractiveComparesTheFirstCharacterOnly) {
  EXPECT_EQ(0, parse({"-i"}).interactive);
  EXPECT_EQ(1, parse({"i"}).interactive);
  EXPECT_EQ(1, parse({"I"}).interactive);
  EXPECT_EQ(1, parse({"inter"}).interactive);
  EXPECT_EQ(0, parse({"-i"}).debug);
}

TEST(SwitchesTest, DebugComparesTheSecondCharacterOnly) {
  for (const char* argument : {"/d", "-D", "xd"}) {
    Switches switches = parse({argument});
    EXPECT_EQ(1, switches.debug) << argument;
    EXPECT_EQ(0, switches.interactive) << argument;
  }
  EXPECT_EQ(0, parse({"d"}).debug);
  EXPECT_EQ(0, parse({""}).debug);
}

TEST(SwitchesTest, OneArgumentMatchesSeveralRows) {
  Switches both = parse({"id"});
  EXPECT_EQ(1, both.interactive);
  EXPECT_EQ(1, both.debug);

  Switches withProfile = parse({"ip", "A.DAT"});
  EXPECT_EQ(1, withProfile.interactive);
  EXPECT_EQ("A.DAT", withProfile.profilePath);
}

TEST(SwitchesTest, ProfileTakesTheRestOrTheNextArgument) {
  EXPECT_EQ("A.DAT", parse({"-pA.DAT"}).profilePath);
  EXPECT_EQ("A.DAT", parse({"-P", "A.DAT"}).profilePath);
  EXPECT_EQ("ath", parse({"-path"}).profilePath);
}

TEST(SwitchesTest, ConsumedProfileArgumentIsNotTestedAsSwitch) {
  Switches switches = parse({"-p", "id.dat"});
  EXPECT_EQ("id.dat", switches.profilePath);
  EXPECT_EQ(0, switches.interactive);
  EXPECT_EQ(0, switches.debug);
  EXPECT_EQ(1, parse({"-p", "X.DAT", "-d"}).debug);
}

TEST(SwitchesTest, ProfileSwitchAsLastArgumentLeavesThePath) {
  Switches switches = parse({"-d", "-p"});
  EXPECT_EQ("PROG.DAT", switches.profilePath);
  EXPECT_EQ(1, switches.debug);
}

TEST(PlatformTest, VersionNumberGivesTheKindOfWindows) {
  EXPECT_EQ(kPlatformWindowsNt, platformFromVersion(0x00000004UL));
  EXPECT_EQ(kPlatformWindowsNt, platformFromVersion(0x00000003UL));
  EXPECT_EQ(kPlatformWindowsNt, platformFromVersion(0x0A280105UL));
  EXPECT_EQ(kPlatformWindows95, platformFromVersion(0xC0000A04UL));
  EXPECT_EQ(kPlatformWindows95, platformFromVersion(0x80000005UL));
  EXPECT_EQ(kPlatformWin32s, platformFromVersion(0x80000003UL));
  EXPECT_EQ(kPlatformWin32s, platformFromVersion(0x80000000UL));
}

class CreateConfigDataTest : public ::testing::Test {
 protected:
  EnvironmentGuard environment;
  TempDir dir;
  TavroProfiles profiles;
  std::unique_ptr<ConfigData> config;
};

TEST_F(CreateConfigDataTest, ReadsRootAndInteractiveFromTheWindowsIni) {
  dir.write("win/TAVRO.INI",
            "[Tavro]\r\nroot=" + dir.file("prod") + "\r\n[Patch]\r\nInteractive=0\r\n");
  dir.write("prod/TAVRO.INI", "[Version]\r\nLevel=2.0\r\n");
  environment.set("TVPAT_WINVER", "0xC0000A04");
  config = createConfigData(dir.file("win/"), &profiles);

  EXPECT_EQ(dir.file("prod"), config->getRootDir());
  EXPECT_EQ(dir.file("win/"), config->getWindowsDir());
  EXPECT_EQ(0, config->getInteractive());
  EXPECT_EQ(kPlatformWindows95, config->getPlatform());
  EXPECT_EQ(1, config->getBackup());
  EXPECT_EQ("2.0", config->getRootIni()->getString("Version", "Level", ""));
}

TEST_F(CreateConfigDataTest, MissingWindowsIniIsNoError) {
  environment.set("TVPAT_WINVER", nullptr);
  config = createConfigData(dir.file("nowhere"), &profiles);
  EXPECT_EQ("", config->getRootDir());
  EXPECT_EQ(1, config->getInteractive());
  EXPECT_EQ(kPlatformWindowsNt, config->getPlatform());
  ASSERT_NE(nullptr, config->getWindowsIni());
  ASSERT_NE(nullptr, config->getRootIni());
}

}  // namespace
