// Removing an installed patch ("/r PATCH") gives back the machine it found:
// every file with its bytes and stamp, every INI key and registry value,
// the ledger; one that a later patch changed again waits until that one is
// removed.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/machine.h"
#include "e2e/plan_check.h"

namespace fs = std::filesystem;

namespace {

std::string patchOf(const Machine& machine) {
  std::string profile = machine.readFile(machine.getProfilePath()).value_or("");
  std::size_t start = profile.find("Patch=") + 6;
  return profile.substr(start, profile.find_first_of("\r\n", start) - start);
}

class RemovedPatch : public ::testing::TestWithParam<std::pair<const char*, int>> {};

// Installed, restarted, removed and restarted again, each example leaves the
// machine as it was.
TEST_P(RemovedPatch, LeavesTheMachineAsItWas) {
  Machine machine;
  machine.loadExample(GetParam().first);
  machine.setPlatformKind(GetParam().second);
  const Snapshot before = restorable(machine);
  RunResult installed = machine.run();
  ASSERT_EQ(0, installed.exitCode) << installed.out << installed.err;
  machine.restart();
  // The removal's plan is the removal, which the plan check then runs and
  // restarts.
  const std::string plan = expectPlanIsTheRun(machine, patchOf(machine));
  EXPECT_NE(std::string::npos, plan.find("prints: The patch was removed: " + patchOf(machine)))
      << plan;
  expectSame(before, restorable(machine));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RemovedPatch,
    ::testing::Values(std::make_pair("driver-update", 2), std::make_pair("driver-update", 1),
                      std::make_pair("settings", 2), std::make_pair("settings", 1),
                      std::make_pair("help-language", 2), std::make_pair("help-language", 1)),
    [](const auto& info) { return exampleCaseName(info.param.first, info.param.second); });

// Two patches on the same file come off in the opposite order only; a patch
// not installed, or installed before undo data was kept, is refused. Every
// refusal changes nothing.
TEST(Removal, LaterPatchesComeOffFirstAndRefusalsChangeNothing) {
  Machine machine;
  const std::string product = machine.getProductDir();
  machine.writeFile(product + "/BIN/A.DLL", "installed");
  machine.setStamp(product + "/BIN/A.DLL", 2000, 1, 1, 12, 0, 0);
  machine.writeProductIni("[Version]\r\nLevel=2.0\r\n\r\n[Install]\r\nPatch0=OLDFIX\r\n");
  const Snapshot original = restorable(machine);
  const char* const kPatches[][2] = {{"FIXA", "2001"}, {"FIXB", "2002"}};
  for (const auto& patch : kPatches) {
    machine.writeFile(machine.getPatchDir() + "/A.DLL", std::string("from ") + patch[0]);
    machine.setStamp(machine.getPatchDir() + "/A.DLL", std::stoi(patch[1]), 1, 1, 12, 0, 0);
    machine.writeProfile(
        std::string("[Patch]\r\nPatch=") + patch[0] +
        "\r\nCondition0=S,2,0,Version,Level,x\r\n\r\n[S]\r\nFILE1=TAVRO,A.DLL,BIN\r\n"
        "INI1=TAVRO,TAVRO.INI,Version," +
        patch[0] + ",1\r\n");
    ASSERT_EQ(0, machine.run().exitCode);
  }
  const Snapshot installed = restorable(machine);
  const struct {
    const char* patch;
    const char* refusal;
  } refused[] = {
      {"FIXA", "A later patch changed the same files or settings; remove it first: FIXB"},
      {"NOFIX", "This patch is not installed: NOFIX"},
      {"OLDFIX", "This patch was installed without undo data and cannot be removed: OLDFIX"},
  };
  for (const auto& row : refused) {
    RunResult result = machine.run({"/r", row.patch});
    EXPECT_EQ(1, result.exitCode) << row.patch;
    EXPECT_NE(std::string::npos, result.err.find(row.refusal)) << result.err;
    SCOPED_TRACE(row.patch);
    expectSame(installed, restorable(machine));
  }
  for (const char* patch : {"FIXB", "FIXA"}) {
    RunResult result = machine.run({"/r", patch});
    EXPECT_EQ(0, result.exitCode) << patch << result.out << result.err;
  }
  expectSame(original, restorable(machine));
}

}  // namespace
