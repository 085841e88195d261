// One run at a time per product: a run on a product that another run holds
// ends at once and changes nothing, and of two runs started together one
// works while the other says why, on both builds.
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/machine.h"
#include "support/file_tree.h"
#include "support/wait.h"

namespace fs = std::filesystem;

namespace {

const std::string kBusyLine =
    "\n\aAnother installation is running for this product; try again when it has ended.\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The files of the Windows directory; under Wine only those at its top, since
// the rest is the prefix's system.
FileTree windowsFiles(const Machine& machine) {
  if (!machine.isWine()) return readTree(machine.getWindowsDir());
  FileTree files;
  for (const fs::directory_entry& entry : fs::directory_iterator(machine.getWindowsDir())) {
    if (!entry.is_regular_file()) continue;
    std::string name = entry.path().filename().string();
    files[name] = machine.readFile(entry.path().string());
  }
  return files;
}

// The paths whose bytes differ between two readings of a tree, or that only
// one of them holds.
std::vector<std::string> changedPaths(const FileTree& before, const FileTree& after) {
  std::vector<std::string> changed;
  for (const auto& [path, content] : before) {
    auto now = after.find(path);
    if (now == after.end() || now->second != content) changed.push_back(path);
  }
  for (const auto& entry : after) {
    if (before.count(entry.first) == 0) changed.push_back(entry.first);
  }
  return changed;
}

TEST(ProductLock, RunOnALockedProductEndsAndChangesNothing) {
  const struct {
    const char* name;
    int kind;
    std::function<void(Machine&)> prepare;
  } cases[] = {
      {"another run holds the lock", 2, [](Machine& machine) { machine.holdProductLock(); }},
      {"on the Windows 95 family, with a catalogue older than the message", 1,
       [](Machine& machine) {
         std::string path = machine.getPatchDir() + "/TVPAT32.MSG";
         std::string catalogue = machine.readFile(path).value_or("");
         std::size_t end = 0;
         for (int line = 0; line < 37; ++line) end = catalogue.find('\n', end) + 1;
         machine.writeFile(path, catalogue.substr(0, end));
         machine.holdProductLock();
       }},
      {"the patch installed, with a step record of a cut-off run", 2,
       [](Machine& machine) {
         machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                                 "\r\n\r\n[Patch]\r\nInteractive=1\r\n\r\n"
                                 "[Install]\r\nPatch0=FIX12\r\n");
         machine.holdProductLock();
         machine.writeFile(machine.getProductDir() + "/ARCHIVE/TEMP/TVSTEP.TXT", "cut short");
       }},
      // Not another run's: the lock cannot be taken at all.
      {"a directory in the lock file's place", 2,
       [](Machine& machine) {
         machine.makeDirectory(machine.getProductDir() + "/ARCHIVE/TEMP");
         machine.makeDirectory(machine.getProductDir() + "/ARCHIVE/TVLOCK");
       }},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    Machine machine;
    machine.loadExample("driver-update");
    machine.setPlatformKind(testCase.kind);
    testCase.prepare(machine);
    const FileTree product = readTree(machine.getProductDir());
    const FileTree windows = windowsFiles(machine);
    const std::string registry = machine.registryText();

    RunResult result = machine.run({"i"});
    EXPECT_EQ(1, result.exitCode);
    if (contains(testCase.name, "directory")) {
      EXPECT_TRUE(contains(result.err, "Error Number:  21\n     Error Message: " +
                                           machine.shownProductDir() + "\\ARCHIVE\\TVLOCK\n"))
          << result.err;
    } else {
      EXPECT_EQ(kBusyLine, result.err);
    }
    EXPECT_EQ(std::vector<std::string>{}, changedPaths(product, readTree(machine.getProductDir())));
    EXPECT_EQ(std::vector<std::string>{}, changedPaths(windows, windowsFiles(machine)));
    EXPECT_EQ(registry, machine.registryText());
    EXPECT_TRUE(machine.getPendingMoves().empty());
  }
}

// Rounds of two runs started together, which race for the lock.
constexpr int kRounds = 20;
// Printed by each patch while it holds the lock, after its work and before
// its ledger record: far more than a pipe holds, so that the run that took
// the lock cannot end before the test reads its output, and the other run
// has to meet the lock held whatever the timing.
constexpr std::size_t kPadding = 256 * 1024;

std::string racingProfile(const std::string& patch, const std::string& entries) {
  return "[Patch]\r\nPatch=" + patch + "\r\nCondition0=Work,2,0,Version,Level,1\r\n\r\n[Work]\r\n" +
         entries + "INI99=TAVRO,PAD.INI,Pad," + patch + "," + std::string(kPadding, 'x') + "\r\n";
}

// The product as it is before every round, with no patch in the ledger.
void resetProduct(Machine& machine) {
  const std::string product = machine.getProductDir();
  fs::remove_all(product);
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeFile(product + "/BIN/APP.DLL", "original");
  machine.setStamp(product + "/BIN/APP.DLL", 2001, 3, 1, 12, 0, 0);
  machine.writeFile(product + "/SHARED.INI", "[Options]\r\nKeep=1\r\n");
  machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                          "\r\n\r\n[Patch]\r\nInteractive=1\r\n");
}

// Starts both runs at once and collects them; returns which of them worked.
// The one refused must end while the other still waits inside the lock.
int race(Machine& machine, const std::vector<std::string> (&arguments)[2]) {
  const int runs[2] = {machine.startCollected(arguments[0]), machine.startCollected(arguments[1])};
  int refused = -1;
  const bool oneEnded = waitUntil([&] {
    for (int i : {0, 1}) {
      if (machine.hasEnded(runs[i])) refused = i;
    }
    return refused >= 0;
  });
  const bool overlapped = oneEnded && !machine.hasEnded(runs[1 - refused]);
  const RunResult results[2] = {machine.collect(runs[0]), machine.collect(runs[1])};
  if (!overlapped) {
    ADD_FAILURE() << "no run was refused while the other held the lock:\n"
                  << results[0].err << results[1].err;
    return -1;
  }
  EXPECT_EQ(1, results[refused].exitCode);
  EXPECT_EQ(kBusyLine, results[refused].err);
  EXPECT_EQ(0, results[1 - refused].exitCode) << results[1 - refused].err;
  return 1 - refused;
}

bool fileReplaced(const Machine& machine) {
  return machine.readFile(machine.getProductDir() + "/BIN/APP.DLL") == "new" &&
         machine.readFile(machine.getProductDir() + "/BIN/APP.OLD") == "original";
}

bool hasKey(const Machine& machine, const std::string& key) {
  return contains(machine.readFile(machine.getProductDir() + "/SHARED.INI").value_or(""), key);
}

TEST(ProductLock, OfTwoRunsStartedTogetherOneWorksAndTheOtherSaysWhy) {
  const struct {
    const char* name;
    std::string patches[2];
    std::string entries[2];
    // Whether the work of each run's patch is there, whole.
    std::function<bool(const Machine&)> done[2];
  } cases[] = {
      {"one patch twice",
       {"SAME", "SAME"},
       {"FILE1=TAVRO,APP.DLL,BIN\r\n", "FILE1=TAVRO,APP.DLL,BIN\r\n"},
       {fileReplaced, fileReplaced}},
      {"two patches setting keys of one INI file",
       {"ONE", "TWO"},
       {"INI1=TAVRO,SHARED.INI,Options,One,1\r\n", "INI1=TAVRO,SHARED.INI,Options,Two,1\r\n"},
       {[](const Machine& machine) { return hasKey(machine, "One=1\r\n"); },
        [](const Machine& machine) { return hasKey(machine, "Two=1\r\n"); }}},
  };
  for (const auto& testCase : cases) {
    Machine machine;
    machine.writeProfile(racingProfile(testCase.patches[0], testCase.entries[0]));
    machine.writeFile(machine.getPatchDir() + "/SECOND.DAT",
                      racingProfile(testCase.patches[1], testCase.entries[1]));
    machine.writeFile(machine.getPatchDir() + "/APP.DLL", "new");
    machine.setStamp(machine.getPatchDir() + "/APP.DLL", 2002, 6, 1, 12, 0, 0);
    int firstWon = 0;
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(std::string(testCase.name) + ", round " + std::to_string(round));
      resetProduct(machine);
      const int worked = race(machine, {{"-d"}, {"-d", "-pSECOND.DAT"}});
      ASSERT_GE(worked, 0);
      firstWon += worked == 0;
      // All of the work of the run that worked, and none of the other's.
      std::string ledger = machine.readFile(machine.getWindowsDir() + "/TAVRO.INI").value_or("");
      EXPECT_TRUE(hasKey(machine, "Keep=1\r\n"));
      EXPECT_FALSE(contains(ledger, "Patch1=")) << ledger;
      for (int i : {0, 1}) {
        const bool expected = i == worked || testCase.patches[i] == testCase.patches[worked];
        EXPECT_EQ(expected, testCase.done[i](machine)) << "the work of run " << i;
        EXPECT_EQ(expected, contains(ledger, "=" + testCase.patches[i] + "\r\n")) << ledger;
      }
    }
    std::cout << testCase.name << ": the run started first took the lock in " << firstWon << " of "
              << kRounds << " rounds\n";
  }
}

}  // namespace
