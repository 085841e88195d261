#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "e2e/machine.h"

namespace {

// A profile whose one condition group holds on the machine's kind of
// Windows and carries out section S.
void writePatch(Machine& machine, const std::string& entries, int kind = 2) {
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile("[Patch]\r\nPatch=FIX1\r\nCondition0=S," + std::to_string(kind) +
                       ",0,Version,Level,1\r\n\r\n[S]\r\n" + entries);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FileEntries, FileReportsEveryOutcomeAndKeepsTheReplacedFile) {
  Machine machine;
  const std::string product = machine.getProductDir();
  const std::string shown = machine.shownProductDir();
  machine.writeFile(machine.getPatchDir() + "/NEWDRV.DLL", "new");
  machine.setStamp(machine.getPatchDir() + "/NEWDRV.DLL", 2001, 6, 1, 12, 0, 0);
  machine.writeFile(product + "/BIN/NEWDRV.DLL", "older");
  machine.setStamp(product + "/BIN/NEWDRV.DLL", 2000, 1, 1, 12, 0, 0);
  machine.writeFile(product + "/NEWER.DLL", "newer");
  machine.setStamp(product + "/NEWER.DLL", 2002, 1, 1, 12, 0, 0);
  // FILE2's target name keeps only its name: the file stays in BIN.
  writePatch(machine,
             "FILE1=TAVRO,NEWDRV.DLL,BIN\r\n"
             "FILE2=TAVRO,NEWDRV.DLL,BIN,SUB\\\\NEWDRV.DLL\r\n"
             "FILE3=TAVRO,NEWDRV.DLL,,NEWER.DLL\r\n"
             "FILE4=TAVRO,NEWDRV.DLL,,NEWER.DLL,1\r\n"
             "FILE5=WINDOWS,NEWDRV.DLL,,TVNEW.DLL\r\n"
             "FILE6=TAVRO,NEWDRV.DLL,NOWHERE\r\n"
             "FILE7=TAVRO,NEWDRV.DLL,,COMP.DLL,,,1\r\n");

  RunResult result = machine.run();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err,
            "\n\aThe target directory does not exist.\n" + std::string(kPatchNotRecordedLine));
  EXPECT_TRUE(
      contains(result.out, shown + "\\BIN\\NEWDRV.DLL (installed, replacing an older file)\n" +
                               shown + "\\BIN\\NEWDRV.DLL (up to date, not copied)\n" + shown +
                               "\\NEWER.DLL (installed file is newer, not copied)\n" + shown +
                               "\\NEWER.DLL (installed, replacing a newer file)\n" +
                               machine.shownWindowsDir() + "\\TVNEW.DLL (installed)\n" +
                               "Patch processing finished.\n"))
      << result.out;
  EXPECT_EQ(machine.readFile(product + "/BIN/NEWDRV.DLL"), "new");
  EXPECT_EQ(machine.readFile(product + "/BIN/NEWDRV.OLD"), "older");
  EXPECT_EQ(machine.readFile(product + "/NEWER.DLL"), "new");
  EXPECT_EQ(machine.readFile(product + "/NEWER.OLD"), "newer");
  EXPECT_EQ(machine.readFile(machine.getWindowsDir() + "/TVNEW.DLL"), "new");
  EXPECT_FALSE(machine.exists(product + "/NOWHERE"));
  EXPECT_FALSE(machine.exists(product + "/COMP.DLL"));
  EXPECT_FALSE(contains(result.out, "Please restart"));
}

// A time a DOS stamp cannot hold is compared and given as the nearest one it
// holds, with a line that fails nothing: FILE2 finds the stamp FILE1 gave.
TEST(FileEntries, StampsOutsideTheDosRangeAreTakenAsTheNearest) {
  Machine machine;
  const std::string patch = machine.getPatchDir();
  machine.writeFile(patch + "/FUTURE.DLL", "future");
  machine.setStamp(patch + "/FUTURE.DLL", 2110, 1, 1, 12, 0, 0);
  machine.writeFile(patch + "/PAST.DLL", "new");
  machine.setStamp(patch + "/PAST.DLL", 2001, 6, 1, 12, 0, 0);
  machine.writeFile(machine.getProductDir() + "/PAST.DLL", "old");
  machine.setStamp(machine.getProductDir() + "/PAST.DLL", 1975, 6, 1, 12, 0, 0);
  writePatch(machine,
             "FILE1=TAVRO,FUTURE.DLL\r\nFILE2=TAVRO,FUTURE.DLL\r\nFILE3=TAVRO,PAST.DLL\r\n");

  RunResult result = machine.run();
  const std::string shown = machine.shownProductDir();
  const std::string clamped =
      "\n\aA time stamp outside what MS-DOS can hold was taken as the nearest one it holds: ";
  const std::string source = machine.shown(patch) + "\\FUTURE.DLL\n";
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, clamped + source + clamped + source + clamped + shown + "\\PAST.DLL\n");
  EXPECT_TRUE(contains(result.out, shown + "\\FUTURE.DLL (installed)\n" + shown +
                                       "\\FUTURE.DLL (up to date, not copied)\n" + shown +
                                       "\\PAST.DLL (installed, replacing an older file)\n"))
      << result.out;
}

// A file named X.OLD has no backup, and the Windows 95 family cannot rename
// over a file: it is replaced now all the same, as its result line says, and
// the old one, set aside during the run, goes at its end.
TEST(FileEntries, AFileNamedOldIsReplacedNowOnTheWindows95Family) {
  Machine machine;
  machine.setPlatformKind(1);
  const std::string bin = machine.getProductDir() + "/BIN";
  machine.writeFile(machine.getPatchDir() + "/X.OLD", "new");
  machine.setStamp(machine.getPatchDir() + "/X.OLD", 2001, 6, 1, 12, 0, 0);
  machine.writeFile(bin + "/X.OLD", "old");
  machine.setStamp(bin + "/X.OLD", 2000, 1, 1, 12, 0, 0);
  writePatch(machine, "FILE1=TAVRO,X.OLD,BIN\r\n", 1);

  RunResult result = machine.run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(contains(result.out, machine.shownProductDir() +
                                       "\\BIN\\X.OLD (installed, replacing an older file)\n"))
      << result.out;
  EXPECT_FALSE(contains(result.out, "Please restart")) << result.out;
  EXPECT_EQ(machine.readFile(bin + "/X.OLD"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(bin), {}), 1);
}

TEST(FileEntries, NoResultLinesWhenNotInteractive) {
  Machine machine;
  machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                          "\r\n\r\n[Patch]\r\nInteractive=0\r\n");
  machine.writeFile(machine.getPatchDir() + "/NEWDRV.DLL", "new");
  writePatch(machine, "FILE1=TAVRO,NEWDRV.DLL\r\nFILE2=TAVRO,NEWDRV.DLL,MISSING\r\n");
  RunResult result = machine.run();
  EXPECT_FALSE(contains(result.out, "NEWDRV.DLL")) << result.out;
  EXPECT_EQ(result.err,
            "\n\aThe target directory does not exist.\n" + std::string(kPatchNotRecordedLine));
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/NEWDRV.DLL"), "new");
}

TEST(FileEntries, FindFileInstallsIntoEveryDirectoryThatHoldsTheFile) {
  Machine machine;
  const std::string tree = machine.getProductDir() + "/TREE";
  machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
  machine.setStamp(machine.getPatchDir() + "/A.DLL", 2001, 6, 1, 12, 0, 0);
  for (const char* where : {"/", "/B/", "/B/C/", "/.HIDDEN/"}) {
    machine.writeFile(tree + where + "A.DLL", "old");
    machine.setStamp(tree + where + "A.DLL", 2000, 1, 1, 12, 0, 0);
  }
  machine.writeFile(tree + "/D/OTHER.DLL", "other");
  // Names compare without regard to case, as Windows compares them.
  machine.writeFile(tree + "/E/a.dll", "old");
  machine.setStamp(tree + "/E/a.dll", 2000, 1, 1, 12, 0, 0);
  // A link back to the top of the tree, which Windows lists as a directory
  // (a reparse point): following it would copy into the same tree again and
  // again.
  std::filesystem::create_directory_symlink(tree, tree + "/B/C/LOOP");
  writePatch(machine, "FINDFILE1=TAVRO,A.DLL,TREE\r\nFINDFILE2=TAVRO,NONE.DLL\r\n");

  RunResult result = machine.run();
  const std::string shown = machine.shownProductDir() + "\\TREE\\";
  const std::string replaced = " (installed, replacing an older file)\n";
  EXPECT_TRUE(contains(result.out, shown + "A.DLL" + replaced + shown + "B\\A.DLL" + replaced +
                                       shown + "B\\C\\A.DLL" + replaced + shown + "E\\A.DLL" +
                                       replaced + "Patch processing finished.\n"))
      << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(machine.readFile(tree + "/B/C/A.DLL"), "new");
  EXPECT_EQ(machine.readFile(tree + "/E/a.dll"), "new");
  EXPECT_EQ(machine.readFile(tree + "/.HIDDEN/A.DLL"), "old");
  EXPECT_FALSE(machine.exists(tree + "/D/A.DLL"));
  EXPECT_EQ(machine.readFile(tree + "/B/C/A.OLD"), "old");
  EXPECT_FALSE(contains(result.out, "Please restart"));
}

// Windows gives a long name an 8.3 alias, and a profile written for old
// systems may name a file by it.
TEST(FileEntries, FindFileFindsAFileByItsShortName) {
  Machine machine;
  if (!machine.isWine()) GTEST_SKIP() << "only Windows gives names their 8.3 aliases";
  const std::string dir = machine.getProductDir() + "/TREE/X";
  machine.writeFile(dir + "/LongFileName.dll", "old");
  machine.setStamp(dir + "/LongFileName.dll", 2000, 1, 1, 12, 0, 0);
  RunResult listing = machine.runProgramAt(machine.getWindowsDir() + "/system32/cmd.exe",
                                           {"/c", "dir", "/x", machine.shown(dir)});
  std::size_t end = listing.out.find(" LongFileName.dll");
  ASSERT_NE(end, std::string::npos) << listing.out;
  const std::string alias = listing.out.substr(listing.out.rfind(' ', end - 1) + 1,
                                               end - listing.out.rfind(' ', end - 1) - 1);
  machine.writeFile(machine.getPatchDir() + "/" + alias, "new");
  machine.setStamp(machine.getPatchDir() + "/" + alias, 2001, 6, 1, 12, 0, 0);
  writePatch(machine, "FINDFILE1=TAVRO," + alias + ",TREE\r\n");

  RunResult result = machine.run();
  EXPECT_TRUE(contains(
      result.out, machine.shown(dir) + "\\" + alias + " (installed, replacing an older file)\n"))
      << alias << "\n"
      << result.out;
}

TEST(FileEntries, SubstRewritesInstalledFilesAndFilesAlreadyThere) {
  Machine machine;
  const std::string product = machine.getProductDir();
  machine.writeFile(machine.getPatchDir() + "/APP.INI",
                    "[Dirs]\r\nroot=\\TAVRO\\BIN\r\nwin=\\WINDOWS\r\nkeep=\\\\TAVRO\r\n");
  // A placeholder across the 511th character and a last line without a line
  // end: the line must be read and rewritten whole.
  const std::string longStart(507, 'x');
  machine.writeFile(product + "/CFG/OLD.INI",
                    longStart + "\\TAVRO" + std::string(40, 'y') + "\r\nlast=\\WINDOWS");
  writePatch(machine,
             "SUBST1=TAVRO,APP.INI\r\n"
             "SUBST2=TAVRO,APP.INI,CFG,OLD.INI,,,1\r\n");

  RunResult result = machine.run();
  EXPECT_TRUE(contains(result.out, machine.shownProductDir() + "\\APP.INI (installed)\n"))
      << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(machine.readFile(product + "/APP.INI"),
            "[Dirs]\r\nroot=" + machine.shownProductDir() +
                "\\BIN\r\nwin=" + machine.shownWindowsDir() + "\r\nkeep=\\TAVRO\r\n");
  EXPECT_EQ(machine.readFile(product + "/CFG/OLD.INI"),
            longStart + machine.shownProductDir() + std::string(40, 'y') +
                "\r\nlast=" + machine.shownWindowsDir());
  EXPECT_FALSE(machine.exists(product + "/APP.OLD"));
  EXPECT_FALSE(machine.exists(product + "/CFG/APP.INI"));
}

}  // namespace
