#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "e2e/machine.h"
#include "support/wait.h"

namespace {

void writePatch(Machine& machine, const std::string& entries,
                const std::string& patchSettings = "") {
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile("[Patch]\r\nPatch=FIX1\r\n" + patchSettings +
                       "Condition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n" + entries);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const char kRestartText[] = "Please restart Windows to complete the installation of this patch.";

TEST(LocalEntries, RenameCopyAndEraseWorkOnInstalledFiles) {
  Machine machine;
  const std::string product = machine.getProductDir();
  machine.writeFile(product + "/OLD/A.DLL", "a");
  machine.makeDirectory(product + "/NEW");
  machine.writeFile(product + "/C.DLL", "c");
  machine.writeFile(product + "/D.DLL", "d");
  writePatch(machine,
             "RENAME1=TAVRO,OLD\\\\A.DLL,NEW\\\\A.DLL\r\n"
             "RENAME2=TAVRO,NEW\\\\A.DLL,\r\n"
             "RENAME3=SYSTEM,NEW\\\\A.DLL,B.DLL\r\n"
             "COPY1=TAVRO,NEW\\\\A.DLL,B.DLL\r\n"
             "COPY2=TAVRO,NEW\\\\A.DLL,B.DLL\r\n"
             "COPY3=TAVRO,MISSING.DLL,E.DLL\r\n"
             "ERASE1=TAVRO,C.DLL\r\n"
             "ERASE2=TAVRO,D.DLL,0\r\n"
             "ERASE3=TAVRO,GONE.DLL\r\n"
             "ERASE4=PRODUCT,C.DLL\r\n");

  RunResult result = machine.run();
  // A local copy prints no result line, even on an interactive run.
  EXPECT_FALSE(contains(result.out, "B.DLL")) << result.out;
  // Entries naming an unknown component are refused, whatever their kind.
  const std::string unusable =
      "\n\aThe installation profile names a section that does not exist or holds an entry "
      "that cannot be used.\n";
  EXPECT_EQ(result.err, unusable + "\n\aA file could not be copied: " + machine.shownProductDir() +
                            "\\MISSING.DLL\n" + unusable + kPatchNotRecordedLine);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(machine.exists(product + "/OLD/A.DLL"));
  EXPECT_EQ(machine.readFile(product + "/NEW/A.DLL"), "a");
  EXPECT_EQ(machine.readFile(product + "/B.DLL"), "a");
  EXPECT_FALSE(machine.exists(product + "/C.DLL"));
  EXPECT_EQ(machine.readFile(product + "/C.OLD"), "c");
  EXPECT_FALSE(machine.exists(product + "/D.DLL"));
  EXPECT_FALSE(machine.exists(product + "/D.OLD"));
  EXPECT_FALSE(contains(result.out, kRestartText));
}

// A RENAME or COPY onto its own source is done; one onto a directory is an
// error line. Neither changes anything or puts anything off.
TEST(LocalEntries, SameFileOrDirectoryDestinationChangesNothing) {
  // The entry, and the name its error line gives (none: no error).
  const std::pair<const char*, const char*> rows[] = {
      {"RENAME1=TAVRO,BIN\\\\TVOLD.EXE,BIN\\\\.\\\\TVOLD.EXE,1,0\r\n", nullptr},
      {"RENAME1=TAVRO,BIN\\\\TVOLD.EXE,HELP\\\\..\\\\bin\\\\tvold.exe\r\n", nullptr},
      {"COPY1=TAVRO,BIN\\\\TVOLD.EXE,BIN\\\\.\\\\TVOLD.EXE,1\r\n", nullptr},
      {"RENAME1=TAVRO,HELP\\\\VIEWER1.HLP,BIN\r\n", "\\BIN"},
      // The destination's backup name is the source's own.
      {"RENAME1=TAVRO,HELP\\\\VIEWER1.OLD,HELP\\\\VIEWER1.HLP\r\n", "\\HELP\\VIEWER1.OLD"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    const bool fails = row.second != nullptr;
    Machine machine;
    const std::string product = machine.getProductDir();
    machine.writeFile(product + "/BIN/TVOLD.EXE", "old");
    machine.writeFile(product + "/HELP/VIEWER1.HLP", "help");
    machine.writeFile(product + "/HELP/VIEWER1.OLD", "older help");
    writePatch(machine, row.first);
    RunResult result = machine.run();
    EXPECT_EQ(result.exitCode, fails ? 1 : 0);
    EXPECT_EQ(result.err, fails ? "\n\aA file could not be renamed: " + machine.shownProductDir() +
                                      row.second + "\n" + kPatchNotRecordedLine
                                : "");
    EXPECT_EQ(machine.readFile(product + "/BIN/TVOLD.EXE"), "old");
    EXPECT_EQ(machine.readFile(product + "/HELP/VIEWER1.HLP"), "help");
    EXPECT_EQ(machine.readFile(product + "/HELP/VIEWER1.OLD"), "older help");
    EXPECT_FALSE(machine.exists(product + "/BIN/TVOLD.OLD"));
    EXPECT_FALSE(machine.exists(product + "/BIN.OLD"));
    EXPECT_TRUE(machine.getPendingMoves().empty());
  }
}

// A read-only file (copied from a CD, say) is erased or replaced like any
// other: now where it can be, else at the restart, which deletes or
// replaces no read-only file, so the attribute goes first.
TEST(LocalEntries, ReadOnlyFilesAreErasedAndReplaced) {
  const struct {
    const char* entry;
    bool held;
    const char* after;  // null: erased
  } rows[] = {
      {"ERASE1=TAVRO,BIN\\\\OBSOLETE.DLL,0\r\n", false, nullptr},
      {"ERASE1=TAVRO,BIN\\\\OBSOLETE.DLL,0\r\n", true, nullptr},
      {"FILE1=TAVRO,OBSOLETE.DLL,BIN,,,0\r\n", false, "new"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.entry);
    Machine machine;
    if (row.held && !machine.isWine()) continue;
    const std::string file = machine.getProductDir() + "/BIN/OBSOLETE.DLL";
    machine.writeFile(file, "old");
    machine.setStamp(file, 1996, 1, 1, 12, 0, 0);
    machine.writeFile(machine.getPatchDir() + "/OBSOLETE.DLL", "new");
    std::filesystem::permissions(file, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    if (row.held) machine.holdFile(file, true);
    writePatch(machine, row.entry);
    RunResult result = machine.run();
    machine.releaseFiles();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    RunResult restart = machine.restart();
    EXPECT_EQ(restart.exitCode, 0) << restart.out << restart.err;
    EXPECT_EQ(machine.readFile(file),
              row.after ? std::optional<std::string>(row.after) : std::nullopt);
    for (const auto& entry :
         std::filesystem::directory_iterator(machine.getProductDir() + "/BIN")) {
      EXPECT_NE(entry.path().extension(), ".~KP") << entry.path();
    }
  }
}

// REBOOT=0 cancels every restart request made before it, a deferred
// replacement's too; a later REBOOT or deferral asks again.
struct RebootRow {
  const char* entries;
  bool holdsErasedFile;
  bool asksForRestart;
};

TEST(LocalEntries, RebootZeroCancelsEarlierRequestsOnly) {
  // Without a backup, a copy over an older installed file waits for the
  // restart; an erased file in use is deleted at the restart.
  const RebootRow rows[] = {
      {"REBOOT1=1\r\nREBOOT2=0\r\n", false, false},
      {"REBOOT1=0\r\nREBOOT2=1\r\nREBOOT3=\r\n", false, true},
      {"COPY1=TAVRO,A.DLL,B.DLL,,0\r\nREBOOT=0\r\n", false, false},
      {"COPY1=TAVRO,A.DLL,B.DLL,,0\r\nREBOOT=0\r\nCOPY2=TAVRO,A.DLL,D.DLL,,0\r\n", false, true},
      {"COPY1=TAVRO,A.DLL,B.DLL,,0\r\nREBOOT=0\r\nERASE=TAVRO,C.DLL,0\r\n", true, true},
  };
  for (const RebootRow& row : rows) {
    SCOPED_TRACE(row.entries);
    Machine machine;
    if (row.holdsErasedFile && !machine.isWine()) continue;
    const std::string product = machine.getProductDir();
    machine.writeFile(product + "/A.DLL", "new");
    machine.setStamp(product + "/A.DLL", 2001, 6, 1, 12, 0, 0);
    for (const char* old : {"/B.DLL", "/C.DLL", "/D.DLL"}) {
      machine.writeFile(product + old, "old");
      machine.setStamp(product + old, 2000, 1, 1, 12, 0, 0);
    }
    if (row.holdsErasedFile) machine.holdFile(product + "/C.DLL", true);
    writePatch(machine, row.entries);
    RunResult result = machine.run();
    machine.releaseFiles();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    const std::string request = row.asksForRestart ? std::string(kRestartText) + "\n" : "";
    EXPECT_TRUE(contains(result.out, "Patch processing finished.\n" + request)) << result.out;
    EXPECT_EQ(row.asksForRestart, contains(result.out, kRestartText)) << result.out;
  }
}

TEST(LocalEntries, RebootProgramStartsAfterTheLedgerIsWritten) {
  Machine machine;
  const std::string marker = machine.getPatchDir() + "/MARKER.TXT";
  std::string program;
  if (machine.isWine()) {
    // A batch file goes through the command interpreter named by COMSPEC.
    program = "RESTART.BAT";
    machine.writeFile(machine.getPatchDir() + "/RESTART.BAT",
                      "@echo off\r\ncopy " + machine.shownWindowsDir() + "\\TAVRO.INI " +
                          machine.shown(marker) + "\r\n");
  } else {
    program = "RESTART.EXE";
    const std::string script = machine.getPatchDir() + "/RESTART.EXE";
    machine.writeFile(script, "#!/bin/sh\ncat '" + machine.getWindowsDir() + "/TAVRO.INI' > '" +
                                  marker + ".part' && mv '" + marker + ".part' '" + marker + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }
  // The REBOOT entry's program replaces the one of section Patch.
  writePatch(machine, "REBOOT1=1," + program + "\r\n", "Reboot Program=NOPE.EXE\r\n");

  RunResult result = machine.run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(contains(result.out, "Patch processing finished.\n")) << result.out;
  EXPECT_FALSE(contains(result.out, kRestartText)) << result.out;
  // The reboot program runs on after the installer has ended; its marker
  // file shows up a little later.
  ASSERT_TRUE(waitUntil([&] { return !machine.readFile(marker).value_or("").empty(); }));
  EXPECT_TRUE(contains(*machine.readFile(marker), "Patch0=FIX1")) << *machine.readFile(marker);
}

}  // namespace
