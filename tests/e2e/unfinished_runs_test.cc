// A patch whose run did not reach its end, as users meet it: the run says so
// and leaves the patch out of the ledger; the next run of the patch finishes
// it, filling in nothing twice; a run of another patch, or of this one with
// a changed profile, first rolls it back to the machine as it was; on
// another kind of Windows nothing is changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kRolledBack[] = "An unfinished patch was rolled back: FIX12\n";
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

// FIX12 with a change of every kind before an entry that fails: the files,
// INI values and registry values it changes, those it makes and those it
// deletes, and a replacement put off to the restart.
const char kEveryKind[] =
    "INI2=TAVRO,VIEW.INI,Colors\r\n"
    "INI3=TAVRO,NEW.INI,Fresh,Key,1\r\n"
    "REG1=HKCU,Software\\\\TvpatTest,Mode,fast\r\n"
    "REG2=HKCU,Software\\\\TvpatTest\\\\Added\\\\Deep,Name,x\r\n"
    "REG3=HKCU,Software\\\\TvpatTest,Gone\r\n"
    "REG4=HKCU,Software\\\\TvpatTest\\\\Tree\r\n"
    "FILE2=TAVRO,VIEWER.EXE,DOCS\r\n"
    "RENAME1=TAVRO,DOCS\\\\A.TXT,DOCS\\\\B.TXT,1,0\r\n"
    "ERASE1=TAVRO,DOCS\\\\C.TXT,0\r\n"
    "FILE4=TAVRO,LANG.DLL,DOCS,,,0\r\n"
    "FILE3=TAVRO,LANG.DLL,MISSING\r\n";

const char kTestKey[] = "HKEY_CURRENT_USER\\Software\\TvpatTest";

// Another run, and what it leaves in DOCS\LANG.DLL, which the unfinished
// patch's replacement put off to the restart.
struct OtherRun {
  const char* profile;
  const char* lang;
};

class Rollback : public UnfinishedRun, public ::testing::WithParamInterface<OtherRun> {
 protected:
  // Every file the patch touches, with what it holds before.
  std::vector<std::pair<std::string, std::string>> files() const {
    return {{root + "/TAVRO.INI", "[Version]\r\nLevel=2.0\r\n"},
            {root + "/HELP.INI", "[Paths]\r\nhelp=\\TAVRO\\HELP\r\n"},
            {root + "/VIEW.INI", "[Colors]\r\nBack=1\r\n; dark\r\n\r\n[Keep]\r\nA=1\r\n"},
            {root + "/DOCS/VIEWER.EXE", "old viewer"},
            {root + "/DOCS/VIEWER.OLD", "ancient viewer"},
            {root + "/DOCS/A.TXT", "a"},
            {root + "/DOCS/B.TXT", "b"},
            {root + "/DOCS/C.TXT", "c"}};
  }
};

// The next run of anything else rolls the unfinished patch back: every file,
// INI value and registry value is as before, also once the restart has
// carried out what the patch put off, nothing the patch made is left, and
// only then does the run go on, with the machine as it was.
TEST_P(Rollback, PutsTheMachineBackBeforeAnythingElseGoesAhead) {
  machine.makeDirectory(root + "/DOCS");
  for (const auto& [path, content] : files()) machine.writeFile(path, content);
  machine.writeFile(root + "/DOCS/LANG.DLL", "old lang");
  machine.setStamp(root + "/DOCS/VIEWER.EXE", 1996, 1, 1, 12, 0, 0);
  machine.setStamp(root + "/DOCS/LANG.DLL", 1996, 1, 1, 12, 0, 0);
  machine.writeFile(machine.getPatchDir() + "/LANG.DLL", "lang");
  const std::string key = kTestKey;
  machine.setRegistryValue(key, "Mode", "slow");
  machine.setRegistryValue(key, "Gone", "g");
  machine.setRegistryValue(key + "\\Tree", "w", "2");
  machine.setRegistryValue(key + "\\Tree\\Sub", "v", "1");

  machine.writeProfile(fix12(2) + kEveryKind);
  RunResult first = machine.run();
  ASSERT_EQ(first.exitCode, 1) << first.out << first.err;
  ASSERT_EQ(machine.readFile(root + "/DOCS/VIEWER.EXE"), "new viewer");
  ASSERT_EQ(machine.getRegistryValue(key, "Mode"), "fast") << first.out << first.err;

  machine.writeProfile(GetParam().profile);
  RunResult next = machine.run();
  EXPECT_NE(next.out.find(kRolledBack), std::string::npos) << next.out << next.err;
  machine.restart();
  for (const auto& [path, content] : files()) EXPECT_EQ(machine.readFile(path), content) << path;
  EXPECT_EQ(machine.readFile(root + "/DOCS/LANG.DLL"), GetParam().lang);
  EXPECT_FALSE(machine.exists(root + "/NEW.INI"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    EXPECT_NE(entry.path().extension(), ".~KP") << entry.path();
  }
  EXPECT_EQ(machine.getRegistryValue(key, "Mode"), "slow");
  EXPECT_EQ(machine.getRegistryValue(key, "Gone"), "g");
  EXPECT_EQ(machine.getRegistryValue(key + "\\Tree", "w"), "2");
  EXPECT_EQ(machine.getRegistryValue(key + "\\Tree\\Sub", "v"), "1");
  EXPECT_FALSE(machine.registryKeyExists(key + "\\Added"));
  expectNotRecorded();
}

INSTANTIATE_TEST_SUITE_P(
    OtherRuns, Rollback,
    ::testing::Values(
        // Another patch, which holds only where the level is back at 2.0;
        // its LANG.DLL must outlast what the restart undoes.
        OtherRun{"[Patch]\r\nPatch=FIX13\r\nCondition0=S,2,1,Version,Level,2.0\r\n\r\n[S]\r\n"
                 "INI1=TAVRO,OTHER.INI,Other,Key,1\r\nFILE1=TAVRO,LANG.DLL,DOCS\r\n",
                 "lang"},
        // The same patch with a changed profile, which does not hold there.
        OtherRun{"[Patch]\r\nPatch=FIX12\r\nCondition0=UP,2,1,Version,Level,2.5\r\n\r\n[UP]\r\n"
                 "INI1=TAVRO,TAVRO.INI,Version,Level,2.6\r\n",
                 "old lang"}));

// A rollback that cannot put a file back, since another file has taken its
// name since, overwrites nothing: the run ends, naming the patch and the
// name, and the rollback goes on once the name is free.
TEST_F(UnfinishedRun, RollbackWaitsForANameTakenSince) {
  machine.writeFile(root + "/C.TXT", "c");
  machine.writeProfile(fix12(2) + "ERASE1=TAVRO,C.TXT,0\r\n");
  ASSERT_EQ(machine.run().exitCode, 1);
  machine.writeFile(root + "/C.TXT", "the user's new file");

  machine.writeProfile(
      "[Patch]\r\nPatch=FIX13\r\nCondition0=S,2,1,Version,Level,2.0\r\n\r\n[S]\r\nREBOOT1=0\r\n");
  RunResult refused = machine.run();
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err,
            "\n\aAn unfinished patch could not be rolled back: FIX12\n" + shownRoot + "\\C.TXT\n");
  EXPECT_EQ(machine.readFile(root + "/C.TXT"), "the user's new file");

  std::filesystem::remove(root + "/C.TXT");
  RunResult next = machine.run();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_NE(next.out.find(kRolledBack), std::string::npos);
  EXPECT_EQ(machine.readFile(root + "/C.TXT"), "c");
  EXPECT_EQ(machine.readFile(root + "/TAVRO.INI").value_or("").find("Level=2.1"),
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
