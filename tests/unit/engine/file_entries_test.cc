#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/engine_fixture.h"

namespace {

class FileEntriesTest : public EngineTest {
 protected:
  void SetUp() override {
    config.setPlatform(kPlatformWindows95);
    config.setBackup(1);
  }
};

TEST_F(FileEntriesTest, TraceBlockShowsFieldsThenValuesWithBackupBeforeForce) {
  config.setDebug(1);
  config.setForce(1);
  // No such file in the patch directory: the copy fails with message 30.
  EXPECT_EQ(runSection("FILE1=TAVRO,A.DLL,,,,7\r\n"),
            "\tFile\n"
            "\t\tcomponent   : TAVRO\n"
            "\t\tfilename    : A.DLL\n"
            "\t\tsubdir      : \n"
            "\t\tentry       : \n"
            "\t\tbackup      : 7\n"
            "\t\tbackup val  : 7\n"
            "\t\tforce       : \n"
            "\t\tforce value : 1\n"
            "\t\tcompress    : (null)\n"
            "\t\tcompress val: 0\n"
            "\n\aM30: " +
                temp.getPath() + "\\A.DLL\n");
}

TEST_F(FileEntriesTest, FindFileTraceShowsAbsentFieldsAsNull) {
  config.setDebug(1);
  EXPECT_EQ(runSection("FINDFILE=windows,A.DLL\r\n"),
            "\tFindFile\n"
            "\t\tcomponent   : windows\n"
            "\t\tfilename    : A.DLL\n"
            "\t\tsubdir      : (null)\n"
            "\t\tentry       : (null)\n"
            "\t\tbackup      : (null)\n"
            "\t\tbackup val  : 1\n"
            "\t\tforce       : (null)\n"
            "\t\tforce value : 0\n"
            "\t\tcompress    : (null)\n"
            "\t\tcompress val: 0\n");
}

TEST_F(FileEntriesTest, UnusableEntriesAreReportedAndChangeNothing) {
  temp.write("A.DLL", "new");
  EXPECT_EQ(runSection("FILE1=TAVRO\r\n"
                       "FILE2=TAVRO,\r\n"
                       "FILE3=OTHER,A.DLL\r\n"
                       "FILE4=TAVRO,A.DLL,NOWHERE\r\n"
                       "FINDFILE=TAVRO,A.DLL,NOWHERE\r\n"
                       "SUBST=TAVRO,A.DLL,NOWHERE\r\n"),
            "\n\aM18\n\n\aM18\n\n\aM18\n\n\aM17\n\n\aM17\n\n\aM17\n");
  EXPECT_FALSE(temp.exists("ROOT/NOWHERE"));
  EXPECT_FALSE(temp.exists("ROOT/A.DLL"));
}

// A fill-in where the file stands that cannot be made (no room for a new
// file) is an error line naming the file, which keeps its text.
TEST_F(FileEntriesTest, FillInThatCannotBeMadeIsReported) {
  temp.write("ROOT/HELP.INI", "help=\\TAVRO\\HELP\r\n");
  hooks.fail(FaultHooks::Call::kCreateNewFile, ENOSPC);
  EXPECT_EQ(runSection("SUBST1=TAVRO,HELP.INI,,,,,1\r\n"), "\n\aM43: " + inRoot("HELP.INI") + "\n");
  EXPECT_EQ("help=\\TAVRO\\HELP\r\n", read("ROOT/HELP.INI"));
}

}  // namespace
