// Generated machines and patches, each planned, run and restarted: the plan
// must be the run, line by line. TVPAT_PLAN_CASES sets how many (the default
// keeps the suite quick; scripts/plan-differential.sh runs a thousand) and
// TVPAT_PLAN_SEED the first case, so that a failing case can be run alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "e2e/machine.h"
#include "e2e/plan_check.h"

namespace fs = std::filesystem;

namespace {

class Pick {
 public:
  explicit Pick(unsigned seed) : random(seed) {}
  int below(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }
  bool chance(int percent) { return below(100) < percent; }
  template <std::size_t N>
  const char* of(const char* const (&choices)[N]) {
    return choices[below(static_cast<int>(N))];
  }

 private:
  std::mt19937 random;
};

// Product files (below the product root), the patch's files, and the other
// names entries use.
const char* const kInstalled[] = {"BIN\\VIEWER.EXE",    "BIN\\TVCORE.DLL",   "BIN\\VIEWER.OLD",
                                  "BIN\\TVOLD.EXE",     "HELP\\VIEWER.HLP",  "LANG\\DE\\LANG.TBL",
                                  "LANG\\EN\\LANG.TBL", "CONFIG\\TAVRO.CFG", "CONFIG\\NOTES.TXT"};
const char* const kPatchFiles[] = {"VIEWER.EXE", "TVCORE.DLL", "LANG.TBL",
                                   "TAVRO.CFG",  "VIEWER.HLP", "NEW.DLL"};
const char* const kSubdirs[] = {"BIN", "HELP", "CONFIG", "LANG\\DE", "", "MISSING", "BIN\\.."};
const char* const kNewNames[] = {"BIN\\TVCONV.EXE", "BIN\\VIEWER.EXE", "CONFIG\\TAVRO.SAV", "BIN",
                                 "MISSING\\A.TXT",  "HELP\\VIEWER.OLD"};
const char* const kIniFiles[] = {"TAVRO,TAVRO.INI", "TAVRO,CONFIG\\VIEWER.INI",
                                 "TAVRO,MISSING\\X.INI", "WINDOWS,TVTEST.INI"};
const char* const kIniKeys[] = {"Version,Level", "Paths,Help", "Viewer,Toolbar", "Viewer,Old"};
const char* const kKeys[] = {"Software\\\\Tavro\\\\Viewer", "Software\\\\Tavro\\\\Cache",
                             "Software\\\\Tavro\\\\Cache\\\\Sub", "Software\\\\Tavro\\\\New"};
const char* const kValues[] = {"2.0", "2.1", "\\\\TAVRO\\\\HELP", "1", ""};
const char* const kLevels[] = {"1.0", "2.0", "2.1", "3.0"};

// A name as an entry field writes it: each backslash doubled.
std::string field(const char* name) {
  std::string text;
  for (const char* c = name; *c != '\0'; ++c)
    text += *c == '\\' ? std::string("\\\\") : std::string(1, *c);
  return text;
}

std::string optionFields(Pick& pick) {
  std::string fields;
  if (pick.chance(40)) fields += "," + std::to_string(pick.below(2));
  if (!fields.empty() && pick.chance(50)) fields += "," + std::to_string(pick.below(2));
  return fields;
}

std::string entryFor(Pick& pick, bool registry, int number) {
  const std::string n = std::to_string(number);
  switch (pick.below(registry ? 10 : 9)) {
    case 0:
    case 1: {
      std::string line = "INI" + n + "=" + field(pick.of(kIniFiles)) + "," + pick.of(kIniKeys);
      if (pick.chance(80)) line += std::string(",") + pick.of(kValues);
      return line;
    }
    case 2:
      return "FILE" + n + "=" + (pick.chance(85) ? "TAVRO" : "WINDOWS") + "," +
             pick.of(kPatchFiles) + "," + field(pick.of(kSubdirs)) +
             (pick.chance(20) ? std::string(",TVNEW.DAT")
                              : std::string(pick.chance(50) ? "," : "")) +
             optionFields(pick);
    case 3:
      return "SUBST" + n + "=TAVRO," + (pick.chance(70) ? "TAVRO.CFG" : pick.of(kPatchFiles)) +
             "," + field(pick.of(kSubdirs)) + optionFields(pick);
    case 4:
      return "FINDFILE" + n + "=TAVRO," + pick.of(kPatchFiles) + "," +
             (pick.chance(70) ? "LANG" : "") + optionFields(pick);
    case 5:
      return std::string(pick.chance(50) ? "RENAME" : "COPY") + n + "=TAVRO," +
             field(pick.of(kInstalled)) + "," +
             field(pick.chance(60) ? pick.of(kNewNames) : pick.of(kInstalled)) + optionFields(pick);
    case 6:
      return "ERASE" + n + "=TAVRO," + field(pick.of(kInstalled)) + "," +
             std::to_string(pick.below(2));
    case 7:
      return "REBOOT" + n + "=" + std::to_string(pick.chance(70) ? 1 : 0);
    case 8:
      return "FILE" + n + "=TAVRO," + pick.of(kPatchFiles) + "," + field(pick.of(kSubdirs)) + ",," +
             std::to_string(pick.below(2));
    default: {
      std::string line = std::string("REG") + n + "=HKCU," + pick.of(kKeys);
      int fields = pick.below(3);
      if (fields >= 1) line += pick.chance(20) ? std::string(",") : std::string(",Version");
      if (fields >= 2) line += std::string(",") + pick.of(kValues);
      return line;
    }
  }
}

// A machine of the kind given, with product files, INI files and registry
// values drawn by pick, and a patch for it.
void generate(Pick& pick, Machine& machine, int kind, bool registry) {
  machine.setPlatformKind(kind);
  const std::string root = machine.getProductDir() + "/";
  auto host = [](std::string path) {
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
  };
  static const int kYears[] = {1999, 2001, 2002, 2003};
  for (const char* name : kInstalled) {
    if (!pick.chance(65)) continue;
    std::string path = root + host(name);
    machine.writeFile(
        path, std::string("installed ") + name + (pick.chance(50) ? " \\TAVRO\r\n" : "\r\n"));
    machine.setStamp(path, kYears[pick.below(4)], 6, 1, 12, 0, 0);
    if (pick.chance(8)) fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  }
  machine.makeDirectory(root + "HELP");
  machine.makeDirectory(root + "LANG/DE");
  for (const char* name : kPatchFiles) {
    if (!pick.chance(85)) continue;
    std::string path = machine.getPatchDir() + "/" + name;
    machine.writeFile(path, std::string("patch ") + name + " for \\TAVRO and \\WINDOWS\r\n");
    machine.setStamp(path, pick.chance(75) ? 2002 : kYears[pick.below(4)], 6, 1, 12, 0, 0);
  }
  std::string level = pick.of(kLevels);
  machine.writeProductIni("[Version]\r\nLevel=" + level + "\r\n\r\n[Paths]\r\nHelp=OLD\r\n");
  if (pick.chance(60))
    machine.writeFile(root + "CONFIG/VIEWER.INI", "[Viewer]\r\nToolbar=0\r\nOld=1\r\n");
  if (registry) {
    if (pick.chance(60))
      machine.setRegistryValue("HKEY_CURRENT_USER\\Software\\Tavro\\Viewer", "", level);
    if (pick.chance(60))
      machine.setRegistryValue("HKEY_CURRENT_USER\\Software\\Tavro\\Viewer", "Version", level);
    if (pick.chance(50))
      machine.setRegistryValue("HKEY_CURRENT_USER\\Software\\Tavro\\Cache\\Sub", "Old", "1");
  }
  const std::string patch = "FIX" + std::to_string(pick.below(3));
  if (pick.chance(10)) {
    // Installed already, in the ledger the kind keeps: on the Windows 95
    // family both copies hold it.
    if (kind == 1) {
      machine.writeProductIni("[Version]\r\nLevel=" + level +
                              "\r\n\r\n[Paths]\r\nHelp=OLD\r\n\r\n[Install]\r\nPatch0=" + patch +
                              "\r\n");
    }
    machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                            "\r\n\r\n[Patch]\r\nInteractive=1\r\n\r\n[Install]\r\nPatch0=" + patch +
                            "\r\n");
  }

  std::string profile = "[Patch]\r\nPatch=" + patch + "\r\n";
  const int otherKind = kind == 1 ? 2 : 1;
  profile += "Condition0=Main," + std::to_string(pick.chance(85) ? kind : otherKind) + "," +
             std::to_string(pick.below(5)) + ",Version,Level," + pick.of(kLevels) + ",9\r\n";
  if (pick.chance(60)) {
    profile +=
        "Condition1=Second," + std::to_string(kind) + "," + std::to_string(pick.below(3)) +
        (registry && pick.chance(50) ? ",HKCU,Software\\\\Tavro\\\\Viewer,," : ",Version,Level,") +
        pick.of(kLevels) + "\r\n";
  }
  if (pick.chance(20)) profile += "Backup=0\r\n";
  if (pick.chance(15)) profile += "Force=1\r\n";
  if (pick.chance(15)) profile += "Reboot Program=NOPROG.EXE\r\n";
  int number = 1;
  for (const char* section : {"Main", "Second"}) {
    profile += std::string("\r\n[") + section + "]\r\n";
    for (int count = 1 + pick.below(6); count > 0; --count) {
      profile += entryFor(pick, registry, number++) + "\r\n";
    }
  }
  machine.writeProfile(profile);
}

int variable(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

TEST(PlanDifferential, PlanIsTheRunOnGeneratedPatches) {
  const bool wine = Machine().isWine();
  const int cases = variable("TVPAT_PLAN_CASES", wine ? 6 : 60);
  const int first = variable("TVPAT_PLAN_SEED", 1);
  for (int seed = first; seed < first + cases && !HasFailure(); ++seed) {
    SCOPED_TRACE("TVPAT_PLAN_SEED=" + std::to_string(seed) + " TVPAT_PLAN_CASES=1");
    Pick pick(static_cast<unsigned>(seed));
    Machine machine;
    // The Wine prefix's registry outlives the machine: the registry is
    // generated for the Linux build only.
    generate(pick, machine, pick.chance(50) ? 1 : 2, !wine);
    const Snapshot before = restorable(machine);
    const std::string plan = expectPlanIsTheRun(machine);
    // A patch installed comes off again, as it found the machine.
    if (plan.find("plan: the run ends with exit code 0") == std::string::npos) continue;
    const std::string profile = machine.readFile(machine.getProfilePath()).value_or("");
    const std::size_t start = profile.find("Patch=") + 6;
    RunResult removed =
        machine.run({"/r", profile.substr(start, profile.find('\r', start) - start)});
    SCOPED_TRACE(profile + plan + "the removal printed:\n" + removed.out + removed.err);
    machine.restart();
    expectSame(before, restorable(machine));
  }
}

}  // namespace
