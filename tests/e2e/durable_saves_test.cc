// INI saves seen from outside on every kind of Windows: the Windows 95
// family puts the old file aside for a moment, Windows NT replaces it in one
// step; either way nothing of the save is left behind, and a copy left aside
// by a save cut short is taken up again by the next run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/machine.h"
#include "platform/aside_name.h"

namespace {

std::vector<std::string> entriesOf(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DurableSaves, IniSavesLeaveNothingBehindAndTakeUpACopyLeftAside) {
  for (int kind : {1, 2}) {
    SCOPED_TRACE(kind);
    Machine machine;
    machine.setPlatformKind(kind);
    const std::string config = machine.getProductDir() + "/CONFIG";
    machine.writeFile(config + "/APP.INI", "[S]\r\nK=old\r\n");
    // A save cut short between its two renames: only the aside copy holds
    // the file's content.
    machine.writeFile(platform::asideNameOf(config + "/CUT.INI"), "[S]\r\nkept=1\r\n");
    machine.writeProductIni("[Version]\r\nLevel=2\r\n");
    machine.writeProfile("[Patch]\r\nPatch=FIX1\r\nCondition0=S," + std::to_string(kind) +
                         ",0,Version,Level,1\r\n\r\n[S]\r\n"
                         "INI1=TAVRO,CONFIG\\\\APP.INI,S,K,new\r\n"
                         "INI2=TAVRO,CONFIG\\\\CUT.INI,S,K,new\r\n");
    RunResult result = machine.run();
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ("[S]\r\nK=new\r\n", machine.readFile(config + "/APP.INI"));
    EXPECT_EQ("[S]\r\nkept=1\r\nK=new\r\n", machine.readFile(config + "/CUT.INI"));
    EXPECT_EQ((std::vector<std::string>{"APP.INI", "CUT.INI"}), entriesOf(config));
  }
}

TEST(DurableSaves, IniSaveKeepsTheFilesLinkAndMode) {
  Machine machine;
  if (machine.isWine()) GTEST_SKIP() << "links and modes are the Linux stand-ins' to keep";
  namespace fs = std::filesystem;
  const std::string config = machine.getProductDir() + "/CONFIG";
  machine.writeFile(config + "/REAL.INI", "[S]\r\nK=old\r\n");
  fs::permissions(config + "/REAL.INI",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("REAL.INI", config + "/APP.INI");
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile(
      "[Patch]\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n"
      "INI1=TAVRO,CONFIG\\\\APP.INI,S,K,new\r\n");
  RunResult result = machine.run();
  EXPECT_EQ("", result.err);
  EXPECT_TRUE(fs::is_symlink(config + "/APP.INI"));
  EXPECT_EQ("[S]\r\nK=new\r\n", machine.readFile(config + "/REAL.INI"));
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
            fs::status(config + "/REAL.INI").permissions() & fs::perms::all);
}

}  // namespace
