// A patch whose run did not reach its end, as users meet it: the run says so
// and leaves the patch out of the ledger; nothing another run does, with
// another patch, a changed profile or another kind of Windows, loses what is
// needed to finish it; the next run of the patch finishes it, filling in
// nothing twice.
#include <gtest/gtest.h>

#include <string>

#include "e2e/machine.h"

namespace {

const char kUnfinished[] =
    "\n\aAn unfinished patch must first be finished with the profile it was started with: ";
const char kOtherKind[] =
    "\n\aAn unfinished patch must first be finished on the other kind of "
    "Windows: FIX12 (the Windows 95 family)\n";

// FIX12 raises the level its condition asks for, fills in HELP.INI where it
// stands, and installs VIEWER.EXE into BIN, which the machine lacks until
// the test makes it. The product root lies in a directory named TAVRO, so
// that a second fill-in would show: the root itself holds "\TAVRO".
std::string fix12(int kind) {
  return "[Patch]\r\nPatch=FIX12\r\nCondition0=UP," + std::to_string(kind) +
         ",1,Version,Level,2.0\r\n\r\n[UP]\r\n"
         "INI1=TAVRO,TAVRO.INI,Version,Level,2.1\r\n"
         "SUBST1=TAVRO,HELP.INI,,,,,1\r\n"
         "FILE1=TAVRO,VIEWER.EXE,BIN\r\n";
}

class UnfinishedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root = machine.getProductDir() + "/TAVRO";
    shownRoot = machine.shownProductDir() + "\\TAVRO";
    machine.writeWindowsIni("[Tavro]\r\nroot=" + shownRoot +
                            "\r\n\r\n[Patch]\r\nInteractive=1\r\n");
    machine.writeFile(root + "/TAVRO.INI", "[Version]\r\nLevel=2.0\r\n");
    machine.writeFile(root + "/HELP.INI", "[Paths]\r\nhelp=\\TAVRO\\HELP\r\n");
    machine.writeFile(machine.getPatchDir() + "/HELP.INI", "unused: compress is set");
    machine.writeFile(machine.getPatchDir() + "/VIEWER.EXE", "new viewer");
  }

  // The patch is in no ledger of the machine.
  void expectNotRecorded() const {
    for (const std::string& ledger :
         {root + "/TAVRO.INI", machine.getWindowsDir() + "/TAVRO.INI"}) {
      EXPECT_EQ(machine.readFile(ledger).value_or("").find("FIX12"), std::string::npos) << ledger;
    }
  }

  Machine machine;
  std::string root;
  std::string shownRoot;
};

TEST_F(UnfinishedRun, IsNeitherRecordedNorLostAndTheNextRunFinishesIt) {
  const int kind = 2;
  machine.writeProfile(fix12(kind));
  RunResult first = machine.run();
  EXPECT_EQ(first.exitCode, 1) << first.out;
  EXPECT_EQ(first.err,
            "\n\aThe target directory does not exist.\n" + std::string(kPatchNotRecordedLine));
  expectNotRecorded();
  const std::string filled = "[Paths]\r\nhelp=" + shownRoot + "\\HELP\r\n";
  EXPECT_EQ(machine.readFile(root + "/HELP.INI"), filled);

  // Neither another patch nor a changed profile of this one goes ahead, and
  // neither changes the machine.
  const std::string windowsIni = *machine.readFile(machine.getWindowsDir() + "/TAVRO.INI");
  const std::string rootIni = *machine.readFile(root + "/TAVRO.INI");
  const struct {
    const char* name;
    std::string profile;
  } others[] = {
      {"another patch",
       "[Patch]\r\nPatch=FIX13\r\nCondition0=S,2,0,Version,Level,x\r\n\r\n[S]\r\n"
       "INI1=TAVRO,TAVRO.INI,Other,Key,1\r\n"},
      {"a changed profile", fix12(kind) + "REBOOT1=1\r\n"},
  };
  for (const auto& other : others) {
    SCOPED_TRACE(other.name);
    machine.writeProfile(other.profile);
    RunResult refused = machine.run();
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, kUnfinished + std::string("FIX12\n"));
    EXPECT_EQ(machine.readFile(machine.getWindowsDir() + "/TAVRO.INI"), windowsIni);
    EXPECT_EQ(machine.readFile(root + "/TAVRO.INI"), rootIni);
  }

  // Run again once BIN is there, it follows its first decision although the
  // level it tests has been raised, and fills in nothing twice.
  machine.writeProfile(fix12(kind));
  machine.makeDirectory(root + "/BIN");
  RunResult rerun = machine.run();
  EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
  EXPECT_EQ(machine.readFile(root + "/BIN/VIEWER.EXE"), "new viewer");
  EXPECT_EQ(machine.readFile(root + "/HELP.INI"), filled);
  EXPECT_NE(machine.readFile(machine.getWindowsDir() + "/TAVRO.INI").value_or("").find("FIX12"),
            std::string::npos);
}

// A dual-boot machine shares the product root: what the Windows 95 run left
// unfinished speaks of another registry, so the Windows NT run changes
// nothing and names the patch and the kind it needs.
TEST_F(UnfinishedRun, OnAnotherKindOfWindowsChangesNothing) {
  machine.setPlatformKind(1);
  machine.writeProfile(fix12(1));
  RunResult first = machine.run();
  ASSERT_EQ(first.exitCode, 1) << first.out << first.err;

  machine.setPlatformKind(2);
  machine.writeProfile(fix12(2));
  machine.makeDirectory(root + "/BIN");
  const std::string rootIni = *machine.readFile(root + "/TAVRO.INI");
  RunResult other = machine.run();
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_EQ(other.err, kOtherKind);
  EXPECT_FALSE(machine.exists(root + "/BIN/VIEWER.EXE"));
  EXPECT_EQ(machine.readFile(root + "/TAVRO.INI"), rootIni);
  expectNotRecorded();
}

}  // namespace
