#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kRestartText[] = "Please restart Windows to complete the installation of this patch.\n";

// A machine of the given kind with NEWDRV.DLL in the patch directory, newer
// than the installed one in the product root, and a profile holding entry.
void prepare(Machine& machine, int kind, const std::string& entry) {
  machine.setPlatformKind(kind);
  machine.writeFile(machine.getPatchDir() + "/NEWDRV.DLL", "new");
  machine.setStamp(machine.getPatchDir() + "/NEWDRV.DLL", 2001, 6, 1, 12, 0, 0);
  machine.writeFile(machine.getProductDir() + "/NEWDRV.DLL", "old");
  machine.setStamp(machine.getProductDir() + "/NEWDRV.DLL", 2000, 1, 1, 12, 0, 0);
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile("[Patch]\r\nPatch=FIX1\r\nCondition0=S," + std::to_string(kind) +
                       ",0,Version,Level,1\r\n\r\n[S]\r\n" + entry + "\r\n");
}

std::string target(const Machine& machine) { return machine.getProductDir() + "/NEWDRV.DLL"; }
std::string shownTarget(const Machine& machine) {
  return machine.shownProductDir() + "\\NEWDRV.DLL";
}
std::string shownBackup(const Machine& machine) {
  return machine.shownProductDir() + "\\NEWDRV.OLD";
}

// Whether path is a temporary copy in ARCHIVE\TEMP: "TV", a candidate
// character, a digit of the process number, ".", three more digits.
bool isTemporaryCopy(const Machine& machine, const std::string& path) {
  const std::string directory = machine.shownProductDir() + "\\ARCHIVE\\TEMP\\TV";
  return path.size() == directory.size() + 6 && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size() + 2] == '.';
}

// The lines of section "rename" of WININIT.INI, in order, as key and value.
std::vector<std::pair<std::string, std::string>> wininitLines(const Machine& machine) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::string text = machine.readFile(machine.getWindowsDir() + "/WININIT.INI").value_or("");
  std::size_t start = text.find("[rename]\r\n");
  if (start == std::string::npos) return lines;
  std::size_t position = start + 10;
  while (position < text.size() && text[position] != '[') {
    std::size_t end = text.find("\r\n", position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(position, end - position);
    std::size_t equals = line.find('=');
    if (!line.empty()) lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    position = end + 2;
  }
  return lines;
}

TEST(Deferred, ReplacementWithoutBackupGoesThroughWininit) {
  Machine machine;
  // Without a backup the old file still stands when the new one is created,
  // so the copy waits in ARCHIVE\TEMP for the restart.
  prepare(machine, 1, "FILE1=TAVRO,NEWDRV.DLL,,,,0");
  RunResult result = machine.run();
  EXPECT_NE(result.out.find(shownTarget(machine) +
                            " (installed, replacing an older file)\nPatch processing finished.\n" +
                            kRestartText),
            std::string::npos)
      << result.out;
  EXPECT_EQ(machine.readFile(target(machine)), "old");

  std::vector<std::pair<std::string, std::string>> lines = wininitLines(machine);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, shownTarget(machine));
  EXPECT_TRUE(isTemporaryCopy(machine, lines[0].second)) << lines[0].second;

  machine.restart();
  EXPECT_EQ(machine.readFile(target(machine)), "new");
  EXPECT_FALSE(machine.exists(machine.getProductDir() + "/NEWDRV.OLD"));
}

TEST(Deferred, ReplacementWithoutBackupIsRegisteredOnNt) {
  Machine machine;
  prepare(machine, 2, "FILE1=TAVRO,NEWDRV.DLL,,,,0");
  RunResult result = machine.run();
  EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;
  EXPECT_FALSE(machine.exists(machine.getWindowsDir() + "/WININIT.INI"));

  std::vector<std::pair<std::string, std::string>> moves = machine.getPendingMoves();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_TRUE(isTemporaryCopy(machine, moves[0].first)) << moves[0].first;
  EXPECT_EQ(moves[0].second, shownTarget(machine));
  machine.restart();
  EXPECT_EQ(machine.readFile(target(machine)), "new");
  EXPECT_TRUE(machine.getPendingMoves().empty());
}

TEST(Deferred, FileInUseIsBackedUpAndReplacedAtRestartOnWindows95) {
  Machine machine;
  if (!machine.isWine()) GTEST_SKIP() << "a file in use needs Windows";
  prepare(machine, 1, "FILE1=TAVRO,NEWDRV.DLL");
  machine.holdFile(target(machine), true);
  RunResult result = machine.run();
  EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;

  std::vector<std::pair<std::string, std::string>> lines = wininitLines(machine);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::make_pair(shownBackup(machine), shownTarget(machine)));
  EXPECT_EQ(lines[1].first, shownTarget(machine));
  EXPECT_TRUE(isTemporaryCopy(machine, lines[1].second)) << lines[1].second;

  machine.releaseFiles();
  machine.restart();
  EXPECT_EQ(machine.readFile(target(machine)), "new");
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/NEWDRV.OLD"), "old");
}

TEST(Deferred, FileInUseIsBackedUpAndReplacedAtRestartOnNt) {
  Machine machine;
  if (!machine.isWine()) GTEST_SKIP() << "a file in use needs Windows";
  prepare(machine, 2, "FILE1=TAVRO,NEWDRV.DLL");
  machine.holdFile(target(machine), true);
  RunResult result = machine.run();
  EXPECT_NE(result.out.find(shownTarget(machine) + " (installed, replacing an older file)\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;

  std::vector<std::pair<std::string, std::string>> moves = machine.getPendingMoves();
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0], std::make_pair(shownTarget(machine), shownBackup(machine)));
  EXPECT_TRUE(isTemporaryCopy(machine, moves[1].first)) << moves[1].first;
  EXPECT_EQ(moves[1].second, shownTarget(machine));

  machine.releaseFiles();
  machine.restart();
  EXPECT_EQ(machine.readFile(target(machine)), "new");
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/NEWDRV.OLD"), "old");
}

TEST(Deferred, FileThatCannotBeOpenedIsStillBackedUpAtTheRestart) {
  // Held without sharing, the file counts as absent for the result line, but
  // it is there: the restart backs it up before replacing it.
  Machine machine;
  if (!machine.isWine()) GTEST_SKIP() << "a file in use needs Windows";
  prepare(machine, 2, "FILE1=TAVRO,NEWDRV.DLL");
  machine.holdFile(target(machine), false);
  RunResult result = machine.run();
  EXPECT_NE(result.out.find(shownTarget(machine) + " (installed)\n"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;

  std::vector<std::pair<std::string, std::string>> moves = machine.getPendingMoves();
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0], std::make_pair(shownTarget(machine), shownBackup(machine)));
  EXPECT_TRUE(isTemporaryCopy(machine, moves[1].first)) << moves[1].first;
  EXPECT_EQ(moves[1].second, shownTarget(machine));

  machine.releaseFiles();
  machine.restart();
  EXPECT_EQ(machine.readFile(target(machine)), "new");
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/NEWDRV.OLD"), "old");
}

}  // namespace
