#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e/machine.h"

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
  EXPECT_EQ(result.err, "\n\aA file could not be copied: " + machine.shownProductDir() +
                            "\\MISSING.DLL\n\n\aThe installation profile names a section that "
                            "does not exist or holds an entry that cannot be used.\n");
  EXPECT_FALSE(machine.exists(product + "/OLD/A.DLL"));
  EXPECT_EQ(machine.readFile(product + "/NEW/A.DLL"), "a");
  EXPECT_EQ(machine.readFile(product + "/B.DLL"), "a");
  EXPECT_FALSE(machine.exists(product + "/C.DLL"));
  EXPECT_EQ(machine.readFile(product + "/C.OLD"), "c");
  EXPECT_FALSE(machine.exists(product + "/D.DLL"));
  EXPECT_FALSE(machine.exists(product + "/D.OLD"));
  EXPECT_FALSE(contains(result.out, kRestartText));
}

TEST(LocalEntries, RebootZeroCancelsAnEarlierRequest) {
  Machine machine;
  writePatch(machine, "REBOOT1=1\r\nREBOOT2=0\r\n");
  RunResult cancelled = machine.run();
  EXPECT_TRUE(contains(cancelled.out, "Patch processing finished.\n")) << cancelled.out;
  EXPECT_FALSE(contains(cancelled.out, kRestartText)) << cancelled.out;

  Machine other;
  writePatch(other, "REBOOT1=0\r\nREBOOT2=1\r\nREBOOT3=\r\n");
  RunResult requested = other.run();
  EXPECT_TRUE(
      contains(requested.out, std::string("Patch processing finished.\n") + kRestartText + "\n"))
      << requested.out;
}

// The reboot program runs on after the installer has ended; its marker file
// shows up a little later.
bool waitForFile(const Machine& machine, const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::optional<std::string> content = machine.readFile(path);
    if (content && !content->empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
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
  ASSERT_TRUE(waitForFile(machine, marker));
  EXPECT_TRUE(contains(*machine.readFile(marker), "Patch0=FIX1")) << *machine.readFile(marker);
}

}  // namespace
