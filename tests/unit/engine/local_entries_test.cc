#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/engine_fixture.h"

namespace {

class LocalEntriesTest : public EngineTest {
 protected:
  void SetUp() override {
    config.setPlatform(kPlatformWindows95);
    config.setBackup(1);
  }
};

TEST_F(LocalEntriesTest, TraceBlocksShowFullPathsAndTheValuesUsed) {
  config.setDebug(1);
  temp.write("ROOT/A.DLL", "a");
  EXPECT_EQ(runSection("RENAME=TAVRO,A.DLL,B.DLL,1\r\n"
                       "COPY=TAVRO,B.DLL,C.DLL,,0\r\n"
                       "ERASE=TAVRO,C.DLL\r\n"),
            "\tRename (local)\n"
            "\t\tcomponent   : TAVRO\n"
            "\t\tsource      : " +
                inRoot("A.DLL") +
                "\n"
                "\t\tdestination : " +
                inRoot("B.DLL") +
                "\n"
                "\t\tbackup      : (null)\n"
                "\t\tbackup val  : 1\n"
                "\t\tforce       : 1\n"
                "\t\tforce value : 1\n"
                "\tCopy (Local)\n"
                "\t\tcomponent   : TAVRO\n"
                "\t\tsource      : " +
                inRoot("B.DLL") +
                "\n"
                "\t\tdestination : " +
                inRoot("C.DLL") +
                "\n"
                "\t\tbackup      : 0\n"
                "\t\tbackup val  : 0\n"
                "\t\tforce       : \n"
                "\t\tforce value : 0\n"
                "\tErase (Local)\n"
                "\t\tcomponent   : TAVRO\n"
                "\t\tfilename    : " +
                inRoot("C.DLL") +
                "\n"
                "\t\tbackup      : (null)\n"
                "\t\tbackup val  : 1\n");
  EXPECT_FALSE(temp.exists("ROOT/A.DLL"));
  EXPECT_EQ(temp.read("ROOT/B.DLL"), "a");
  EXPECT_EQ(temp.read("ROOT/C.OLD"), "a");
  EXPECT_FALSE(temp.exists("ROOT/C.DLL"));
}

TEST_F(LocalEntriesTest, EntriesWithoutNamesAreSkippedSilently) {
  config.setDebug(1);
  temp.write("ROOT/OLD/A.DLL", "a");
  std::filesystem::create_directories(temp.file("ROOT/NEW"));
  std::string log = runSection(
      "RENAME=TAVRO,OLD\\\\A.DLL,\r\n"
      "COPY=TAVRO,,B.DLL\r\n"
      "ERASE=TAVRO\r\n"
      "RENAME=TAVRO,OLD\\\\A.DLL,NEW\\\\A.DLL\r\n");
  // Only the last entry, which moves the file between two subdirectories,
  // gets as far as its trace block.
  EXPECT_EQ(log.find("\tRename (local)\n\t\tcomponent   : TAVRO\n"), 0u) << log;
  EXPECT_EQ(log.find("component", 30), std::string::npos) << log;
  EXPECT_FALSE(temp.exists("ROOT/OLD/A.DLL"));
  EXPECT_EQ(temp.read("ROOT/NEW/A.DLL"), "a");
}

TEST_F(LocalEntriesTest, RebootStoresAnyNumberAndKeepsTheRequestWithoutOne) {
  config.setRebootProgram("FROMDAT.EXE");
  runSection("REBOOT=1\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  EXPECT_EQ(config.getRebootProgram(), "FROMDAT.EXE");
  runSection("REBOOT1=\r\nREBOOT2=x,\r\nREBOOT3\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  runSection("REBOOT=,NEW.BAT\r\nREBOOT=5\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 5);
  EXPECT_FALSE(config.isRebootNeeded());
  EXPECT_EQ(config.getRebootProgram(), "NEW.BAT");
}

}  // namespace
