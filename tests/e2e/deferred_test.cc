#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/machine.h"
#include "platform/aside_name.h"

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

// The steps waiting for the restart, in order, each as {from, to}: the
// lines of WININIT.INI on the Windows 95 family, the MoveFileExA
// registrations on NT.
std::vector<std::pair<std::string, std::string>> deferredSteps(const Machine& machine, int kind) {
  if (kind != 1) return machine.getPendingMoves();
  std::vector<std::pair<std::string, std::string>> steps;
  for (const auto& [to, from] : wininitLines(machine)) steps.emplace_back(from, to);
  return steps;
}

enum class Hold { kNone, kShareRead, kExclusive };

// One replacement that has to wait for the restart. Without a backup the old
// file still stands when the new one is made, so the copy waits in
// ARCHIVE\TEMP. A file in use (only Windows can hold one) is backed up at the
// restart first; one held so that it cannot even be opened counts as absent
// for the result line, but is there, and is backed up all the same.
struct DeferredRow {
  int kind;
  const char* entry;
  Hold hold;
  const char* resultLine;
};

TEST(Deferred, ReplacementWaitsWholeForTheRestartAndBacksUpFirst) {
  const char kReplacing[] = " (installed, replacing an older file)\n";
  const DeferredRow rows[] = {
      {1, "FILE1=TAVRO,NEWDRV.DLL,,,,0", Hold::kNone, kReplacing},
      {2, "FILE1=TAVRO,NEWDRV.DLL,,,,0", Hold::kNone, kReplacing},
      {1, "FILE1=TAVRO,NEWDRV.DLL", Hold::kShareRead, kReplacing},
      {2, "FILE1=TAVRO,NEWDRV.DLL", Hold::kShareRead, kReplacing},
      {1, "FILE1=TAVRO,NEWDRV.DLL", Hold::kExclusive, " (installed)\n"},
      {2, "FILE1=TAVRO,NEWDRV.DLL", Hold::kExclusive, " (installed)\n"},
  };
  for (const DeferredRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.kind) + " " + row.entry + " hold " +
                 std::to_string(static_cast<int>(row.hold)));
    Machine machine;
    if (row.hold != Hold::kNone && !machine.isWine()) continue;
    prepare(machine, row.kind, row.entry);
    if (row.hold != Hold::kNone) machine.holdFile(target(machine), row.hold == Hold::kShareRead);
    RunResult result = machine.run();
    EXPECT_NE(result.out.find(shownTarget(machine) + row.resultLine), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(std::string("Patch processing finished.\n") + kRestartText),
              std::string::npos)
        << result.out;
    EXPECT_EQ(row.kind == 1, machine.exists(machine.getWindowsDir() + "/WININIT.INI"));

    std::vector<std::pair<std::string, std::string>> steps = deferredSteps(machine, row.kind);
    bool backsUp = row.hold != Hold::kNone;
    ASSERT_EQ(steps.size(), backsUp ? 2u : 1u);
    if (backsUp) {
      EXPECT_EQ(steps[0], std::make_pair(shownTarget(machine), shownBackup(machine)));
    }
    EXPECT_TRUE(isTemporaryCopy(machine, steps.back().first)) << steps.back().first;
    EXPECT_EQ(steps.back().second, shownTarget(machine));
    EXPECT_EQ(machine.readFile(target(machine)), "old");

    machine.releaseFiles();
    machine.restart();
    EXPECT_EQ(machine.readFile(target(machine)), "new");
    EXPECT_EQ(machine.readFile(machine.getProductDir() + "/NEWDRV.OLD"),
              backsUp ? std::optional<std::string>("old") : std::nullopt);
    EXPECT_TRUE(machine.getPendingMoves().empty());
  }
}

// A save of WININIT.INI cut off before it removed the old copy it had put
// aside leaves that copy behind, alone once the restart has carried out the
// file and kept it as WININIT.BAK. Taken up again, its lines would be carried
// out a second time, and VIEWER.OLD=VIEWER.EXE would move the viewer away.
TEST(Deferred, ACopyOfWininitLeftAsideBeforeTheRestartIsNotCarriedOutAgain) {
  Machine machine;
  prepare(machine, 1, "FILE1=TAVRO,NEWDRV.DLL,,,,0");
  const std::string viewer = machine.getProductDir() + "/VIEWER.EXE";
  machine.writeFile(viewer, "viewer");
  const std::string aside = platform::asideNameOf(machine.getWindowsDir() + "/WININIT.INI");
  const std::string bak = machine.getWindowsDir() + "/WININIT.BAK";
  const std::string product = machine.shownProductDir();
  for (const std::string& path : {aside, bak}) {
    machine.writeFile(path,
                      "[rename]\r\n" + product + "\\VIEWER.OLD=" + product + "\\VIEWER.EXE\r\n");
  }
  machine.setStamp(aside, 2001, 5, 1, 12, 0, 0);
  machine.setStamp(bak, 2001, 5, 1, 12, 0, 4);
  EXPECT_EQ(0, machine.run().exitCode);
  EXPECT_FALSE(machine.exists(aside));
  EXPECT_EQ(1u, wininitLines(machine).size());
  machine.restart();
  EXPECT_EQ("viewer", machine.readFile(viewer));
  EXPECT_EQ("new", machine.readFile(target(machine)));
}

}  // namespace
