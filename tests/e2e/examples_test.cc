#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "e2e/machine.h"
#include "e2e/plan_check.h"

namespace fs = std::filesystem;

namespace {

const char kProfile[] = "TVPAT32.DAT";

class ExamplePatch : public ::testing::TestWithParam<std::pair<const char*, int>> {};

// The example is clean for the checker, and its plan on a scratch machine
// is what the run then does.
TEST_P(ExamplePatch, PlanIsWhatTheRunDoes) {
  Machine machine;
  machine.loadExample(GetParam().first);
  machine.setPlatformKind(GetParam().second);

  // The example's own catalogue is the one the build puts beside the program.
  std::string catalogue = machine.getPatchDir() + "/TVPAT32.MSG";
  std::ifstream built(fs::path(std::getenv("TVPAT_E2E_PROGRAM")).parent_path() / "TVPAT32.MSG",
                      std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(built), std::istreambuf_iterator<char>()),
            machine.readFile(catalogue).value_or("(none)"));

  RunResult checked = machine.runChecker({kProfile});
  EXPECT_EQ(0, checked.exitCode) << checked.out << checked.err;
  EXPECT_EQ("0 errors, 0 warnings\n", checked.out);

  std::string plan = expectPlanIsTheRun(machine);
  EXPECT_NE(std::string::npos, plan.find("plan: the run ends with exit code 0")) << plan;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExamplePatch,
    ::testing::Values(std::make_pair("driver-update", 2), std::make_pair("driver-update", 1),
                      std::make_pair("settings", 2), std::make_pair("settings", 1),
                      std::make_pair("help-language", 2)),
    [](const auto& info) { return exampleCaseName(info.param.first, info.param.second); });

// The exit codes a build script can rely on.
TEST(Checker, ExitCodesTellCleanFromErrorsFromUnusable) {
  Machine machine;
  machine.writeProfile(
      "[Patch]\r\nPatch=P\r\nCondition0=S,2,1,V,L,1\r\n\r\n[S]\r\nFILE1=TAVRO\r\n");
  RunResult errors = machine.runChecker({kProfile});
  EXPECT_EQ(1, errors.exitCode);
  EXPECT_EQ(
      "TVPAT32.DAT:6: error: FILE entry without its file name (field 2)\n"
      "1 errors, 0 warnings\n",
      errors.out);
  RunResult missing = machine.runChecker({"NOSUCH.DAT"});
  EXPECT_EQ(2, missing.exitCode);
  EXPECT_EQ("tvpcheck: NOSUCH.DAT cannot be read\n", missing.err);
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                    {"--plan"},
                                                    {"--frobnicate", kProfile},
                                                    {kProfile, "--patch-dir"},
                                                    {kProfile, kProfile},
                                                    {"--remove", "FIX1", kProfile}}) {
    RunResult wrong = machine.runChecker(arguments);
    EXPECT_EQ(2, wrong.exitCode);
    EXPECT_EQ("usage: tvpcheck [--seal] [--plan [--remove PATCH]] [--patch-dir DIR] PROFILE.DAT\n",
              wrong.err);
  }
}

}  // namespace
