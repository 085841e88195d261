#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ascii_text.h"
#include "e2e/machine.h"
#include "platform/aside_name.h"
#include "platform/files.h"
#include "platform/short_name.h"

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

// The last name of a path.
std::string lastName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// The name by which the restart of the Windows 95 family finds the file at
// `shown` (as the program shows the path): natively its 8.3 form, which the
// test's platform layer gives as the program's does (that of the directory
// and the file's 8.3 name for a file that is not there yet). Under Wine, as
// shown, since Wine's restart takes long names too.
std::string restartName(const Machine& machine, const std::string& shown) {
  if (machine.isWine()) return shown;
  std::string shortPath;
  if (platform::getShortPath(shown, &shortPath).ok) return shortPath;
  const std::size_t separator = shown.find_last_of("\\/");
  EXPECT_TRUE(platform::getShortPath(shown.substr(0, separator + 1), &shortPath).ok) << shown;
  return shortPath + shown.substr(separator + 1);
}

// Whether `written`, a path of a step put off on the given kind of Windows,
// names the file at `shown`: on NT as shown; on the Windows 95 family by
// 8.3 names only, natively those of restartName, and under Wine, whose
// aliases the test cannot work out, ending in the file's own name where
// that is an 8.3 name.
::testing::AssertionResult namesFile(const Machine& machine, int kind, const std::string& written,
                                     const std::string& shown) {
  bool named = written == shown;
  if (kind == 1) {
    const std::string name = lastName(shown);
    named =
        platform::isShortPath(written) &&
        (machine.isWine() ? !platform::isShortName(name) || equalsNoCase(lastName(written), name)
                          : written == restartName(machine, shown));
  }
  if (named) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << written << " does not name " << shown;
}

// Whether path is a temporary copy in ARCHIVE\TEMP: "TV", a candidate
// character, a digit of the process number, ".", three more digits.
::testing::AssertionResult isTemporaryCopy(const Machine& machine, int kind,
                                           const std::string& path) {
  const std::string name = lastName(path);
  if (name.size() != 8 || name.compare(0, 2, "TV") != 0 || name[4] != '.') {
    return ::testing::AssertionFailure() << path << " is no temporary name";
  }
  return namesFile(machine, kind, path.substr(0, path.size() - 9),
                   machine.shownProductDir() + "\\ARCHIVE\\TEMP");
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
      EXPECT_TRUE(namesFile(machine, row.kind, steps[0].first, shownTarget(machine)));
      EXPECT_TRUE(namesFile(machine, row.kind, steps[0].second, shownBackup(machine)));
    }
    EXPECT_TRUE(isTemporaryCopy(machine, row.kind, steps.back().first));
    EXPECT_TRUE(namesFile(machine, row.kind, steps.back().second, shownTarget(machine)));
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
    machine.writeFile(path, "[rename]\r\n" + restartName(machine, product + "\\VIEWER.OLD") + "=" +
                                restartName(machine, product + "\\VIEWER.EXE") + "\r\n");
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

// A product under a directory with long names, on the Windows 95 family:
// every step put off names its files by 8.3 names, the only ones
// WININIT.EXE can read (tvprestart refuses the others as it does), and the
// restart carries them out. A file put in place under a long name has only
// its alias after the restart, and the long name is gone. An ERASE of a
// name that waits for the restart waits too, after the step.
struct LongNameRow {
  const char* entries;
  const char* installed;  // the installed file, dated before the patch's
  std::size_t steps;
  bool erased;
};

TEST(Deferred, OnTheWindows95FamilyStepsNameFilesByTheirEightDotThreeNames) {
  const LongNameRow rows[] = {
      {"FILE1=TAVRO,NEWDRV.DLL,,,,0", "NEWDRV.DLL", 1, false},
      {"FILE1=TAVRO,NEWDRV.DLL,,Viewer Driver.dll,,0", "Viewer Driver.dll", 1, false},
      {"FILE1=TAVRO,NEWDRV.DLL,,,,0\r\nERASE1=TAVRO,NEWDRV.DLL,0", "NEWDRV.DLL", 2, true},
      {"FILE1=TAVRO,NEWDRV.DLL,,Viewer Driver.dll,,0\r\nERASE1=TAVRO,Viewer Driver.dll,0",
       "Viewer Driver.dll", 2, true},
  };
  for (const LongNameRow& row : rows) {
    SCOPED_TRACE(row.entries);
    Machine machine;
    machine.setPlatformKind(1);
    const std::string product = machine.getRoot() + "/Program Files/Tavro Viewer";
    const std::string installed = product + "/" + row.installed;
    const std::string shownInstalled = machine.shown(product) + "\\" + row.installed;
    machine.writeFile(product + "/TAVRO.INI", "[Version]\r\nLevel=2\r\n");
    machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shown(product) +
                            "\r\n\r\n[Patch]\r\nInteractive=1\r\n");
    machine.writeFile(machine.getPatchDir() + "/NEWDRV.DLL", "new");
    machine.setStamp(machine.getPatchDir() + "/NEWDRV.DLL", 2001, 6, 1, 12, 0, 0);
    machine.writeFile(installed, "old");
    machine.setStamp(installed, 2000, 1, 1, 12, 0, 0);
    machine.writeProfile(
        "[Patch]\r\nPatch=FIX1\r\nCondition0=S,1,0,Version,Level,1\r\n\r\n[S]\r\n" +
        std::string(row.entries) + "\r\n");

    RunResult result = machine.run();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find(shownInstalled + " (installed, replacing an older file)\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;
    // The file that will lose its long name is named once, as the run puts
    // the replacement off.
    const std::string lost =
        "After the restart this file has its short name only: " + shownInstalled + " (";
    EXPECT_EQ(result.err.find(lost) != std::string::npos,
              std::string(row.installed) != "NEWDRV.DLL")
        << result.err;
    std::vector<std::pair<std::string, std::string>> steps = deferredSteps(machine, 1);
    ASSERT_EQ(steps.size(), row.steps);
    EXPECT_TRUE(namesFile(machine, 1, steps[0].second, shownInstalled));
    EXPECT_TRUE(platform::isShortPath(steps[0].first)) << steps[0].first;
    EXPECT_EQ(lastName(steps[0].first).compare(0, 2, "TV"), 0) << steps[0].first;
    if (row.erased) {
      EXPECT_EQ(steps[1], std::make_pair(steps[0].second, std::string("NUL")));
    }
    EXPECT_EQ(machine.readFile(installed), "old");

    RunResult restart = machine.restart();
    EXPECT_EQ(restart.exitCode, 0) << restart.out << restart.err;
    const std::string alias = product + "/" + lastName(steps[0].second);
    if (row.erased) {
      EXPECT_FALSE(machine.exists(installed));
      EXPECT_FALSE(machine.exists(alias));
    } else if (alias == installed || !machine.isWine()) {
      EXPECT_EQ(machine.readFile(alias), "new");
      EXPECT_EQ(machine.exists(installed), alias == installed);
    } else {
      // Wine's restart renames over the file that the alias names, which
      // keeps its long name; WININIT.EXE leaves the alias alone.
      EXPECT_TRUE(machine.readFile(installed) == "new" || machine.readFile(alias) == "new");
    }
  }
}

}  // namespace
