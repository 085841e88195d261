#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "e2e/machine.h"
#include "e2e/plan_check.h"

namespace {

const char kProfile[] = "TVPAT32.DAT";
const char kDamaged[] = "A file of this patch is missing or damaged";

struct SealedExample {
  const char* name;
  int kind;
  // A file the patch brings; the settings patch brings none but its
  // catalogue.
  const char* payload;
};

// One way a patch goes bad after sealing, and the file the refusal names.
struct Damage {
  const char* what;
  std::function<void(const Machine&, const std::string& payloadPath)> apply;
  const char* named;  // null: the payload
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string patchFile(const Machine& machine, const std::string& name) {
  return machine.getPatchDir() + "/" + name;
}

const std::vector<Damage>& damages() {
  static const std::vector<Damage> table = {
      {"a payload file one byte short",
       [](const Machine& machine, const std::string& path) {
         std::string content = *machine.readFile(path);
         machine.writeFile(path, content.substr(0, content.size() - 1));
       },
       nullptr},
      {"a payload file with one bit flipped",
       [](const Machine& machine, const std::string& path) {
         std::string content = *machine.readFile(path);
         content[content.size() / 2] ^= 0x10;
         machine.writeFile(path, content);
       },
       nullptr},
      {"a missing payload file",
       [](const Machine&, const std::string& path) { std::remove(path.c_str()); }, nullptr},
      {"an extra file named in a changed profile",
       [](const Machine& machine, const std::string&) {
         machine.writeFile(patchFile(machine, "EXTRA.DLL"), "extra");
         machine.writeFile(machine.getProfilePath(),
                           *machine.readFile(machine.getProfilePath()) +
                               "\r\n[Extra]\r\nFILE1=TAVRO,EXTRA.DLL\r\n");
       },
       kProfile},
      {"a profile edited after sealing",
       [](const Machine& machine, const std::string&) {
         std::string profile = *machine.readFile(machine.getProfilePath());
         std::replace(profile.begin(), profile.end(), '1', '2');
         machine.writeFile(machine.getProfilePath(), profile);
       },
       kProfile},
      {"a seal cut short",
       [](const Machine& machine, const std::string&) {
         std::string seal = *machine.readFile(patchFile(machine, "TVPAT32.SUM"));
         machine.writeFile(patchFile(machine, "TVPAT32.SUM"), seal.substr(0, seal.size() - 12));
       },
       "TVPAT32.SUM"},
  };
  return table;
}

class SealedPatch : public ::testing::TestWithParam<SealedExample> {
 protected:
  void load(Machine* machine) const {
    machine->loadExample(GetParam().name);
    machine->setPlatformKind(GetParam().kind);
    RunResult sealed = machine->runChecker({"--seal", kProfile});
    ASSERT_EQ(0, sealed.exitCode) << sealed.out << sealed.err;
  }
};

// Every damage is refused before anything changes, naming the file; the
// machine, the patch directory and the registry stay byte for byte as they
// were.
TEST_P(SealedPatch, EveryDamageIsRefusedBeforeAnythingChanges) {
  for (const Damage& damage : damages()) {
    SCOPED_TRACE(damage.what);
    Machine machine;
    load(&machine);
    damage.apply(machine, patchFile(machine, GetParam().payload));
    const Snapshot before = snapshot(machine);
    RunResult run = machine.run();
    EXPECT_EQ(1, run.exitCode) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.err.find(kDamaged)) << run.err;
    const std::string named = damage.named != nullptr ? damage.named : GetParam().payload;
    EXPECT_NE(std::string::npos, lower(run.err).find(lower(named))) << run.err;
    expectSame(before, snapshot(machine));
  }
}

// Sealed, the patch installs as before, and its plan is the run.
TEST_P(SealedPatch, InstallsAsBefore) {
  Machine machine;
  load(&machine);
  std::string plan = expectPlanIsTheRun(machine);
  EXPECT_NE(std::string::npos, plan.find("plan: the run ends with exit code 0")) << plan;
}

INSTANTIATE_TEST_SUITE_P(Examples, SealedPatch,
                         ::testing::Values(SealedExample{"driver-update", 2, "VIEWER.EXE"},
                                           SealedExample{"driver-update", 1, "TVCORE.DLL"},
                                           SealedExample{"settings", 2, "TVPAT32.MSG"},
                                           SealedExample{"help-language", 1, "VIEWER.HLP"}),
                         [](const auto& info) {
                           return exampleCaseName(info.param.name, info.param.kind);
                         });

// The author learns that a seal no longer matches, file by file; sealing a
// profile with errors is refused and writes no seal.
TEST(Seal, CheckerWarnsOfAStaleSealAndRefusesToSealErrors) {
  Machine machine;
  machine.loadExample("driver-update");
  ASSERT_EQ(0, machine.runChecker({"--seal", kProfile}).exitCode);
  EXPECT_EQ("0 errors, 0 warnings\n", machine.runChecker({kProfile}).out);

  machine.writeFile(patchFile(machine, "VIEWER.EXE"), "another viewer");
  std::remove(patchFile(machine, "LANG.TBL").c_str());
  RunResult stale = machine.runChecker({kProfile});
  EXPECT_NE(std::string::npos,
            stale.out.find("TVPAT32.SUM:9: warning: VIEWER.EXE has changed since the patch was "
                           "sealed"))
      << stale.out;
  EXPECT_NE(std::string::npos, stale.out.find("LANG.TBL has been removed since")) << stale.out;

  machine.writeProfile(
      "[Patch]\r\nPatch=P\r\nCondition0=S,2,1,V,L,1\r\n\r\n[S]\r\nFILE1=TAVRO\r\n");
  std::remove(patchFile(machine, "TVPAT32.SUM").c_str());
  RunResult refused = machine.runChecker({"--seal", kProfile});
  EXPECT_EQ(1, refused.exitCode);
  EXPECT_EQ("tvpcheck: the patch is not sealed: correct the errors first\n", refused.err);
  EXPECT_FALSE(machine.exists(patchFile(machine, "TVPAT32.SUM")));
}

}  // namespace
