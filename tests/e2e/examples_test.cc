#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/machine.h"

namespace fs = std::filesystem;

namespace {

const char kProfile[] = "TVPAT32.DAT";
const char kRestartText[] = "Please restart Windows to complete the installation of this patch.";

// Every file and directory below the machine's directories with its bytes
// and last-write time in nanoseconds; under Wine only the files at the top
// of the Windows directory, which is the prefix's and holds the system.
using Snapshot = std::map<std::string, std::pair<std::string, long long>>;

void addTree(const std::string& root, bool recursive, Snapshot* snapshot) {
  auto add = [&](const fs::directory_entry& entry) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) != 0) return;
    long long stamp = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
    std::string content;
    if (entry.is_regular_file()) {
      std::ifstream stream(entry.path(), std::ios::binary);
      content.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } else if (!recursive) {
      return;
    }
    (*snapshot)[entry.path().string()] = {content, stamp};
  };
  if (recursive) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) add(entry);
  } else {
    for (const auto& entry : fs::directory_iterator(root)) add(entry);
  }
}

Snapshot snapshot(const Machine& machine) {
  Snapshot result;
  addTree(machine.getProductDir(), true, &result);
  addTree(machine.getPatchDir(), true, &result);
  addTree(machine.getWindowsDir(), !machine.isWine(), &result);
  result["(registry)"] = {machine.registryText(), 0};
  return result;
}

// A path of the plan as a Linux path of the machine.
std::string hostPath(const Machine& machine, std::string path) {
  const std::string windows = machine.shownWindowsDir();
  if (machine.isWine() && path.size() >= windows.size() &&
      std::equal(windows.begin(), windows.end(), path.begin(),
                 [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
    path = machine.getWindowsDir() + path.substr(windows.size());
  } else if (machine.isWine() && path.compare(0, 2, "Z:") == 0) {
    path = path.substr(2);
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

struct PlanStep {
  int line = 0;
  std::string text;
};

// The plan lines of tvpcheck's output, in order.
std::vector<PlanStep> planSteps(const std::string& output) {
  std::vector<PlanStep> steps;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    std::string line = output.substr(start, end - start);
    start = end == std::string::npos ? output.size() : end + 1;
    std::size_t marker = line.find(": plan: ");
    if (line.compare(0, sizeof kProfile - 1, kProfile) != 0 || marker == std::string::npos) {
      continue;
    }
    PlanStep step;
    if (std::isdigit(static_cast<unsigned char>(line[sizeof kProfile]))) {
      step.line = std::stoi(line.substr(sizeof kProfile));
    }
    step.text = line.substr(marker + 8);
    steps.push_back(step);
  }
  return steps;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The text between the kind and ": " (a target) or " to "/" from " (a pair).
std::string field(const std::string& text, std::size_t from, const std::string& until) {
  std::size_t end = text.find(until, from);
  return text.substr(from, end - from);
}

class ExamplePatch : public ::testing::TestWithParam<std::pair<const char*, int>> {};

// The plan on a scratch machine changes nothing, and a run then carries
// out every planned step with the planned outcome.
TEST_P(ExamplePatch, PlanChangesNothingAndTheRunDoesWhatItSaid) {
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

  Snapshot before = snapshot(machine);
  RunResult planned = machine.runChecker({"--plan", kProfile});
  ASSERT_EQ(0, planned.exitCode) << planned.out << planned.err;
  EXPECT_TRUE(before == snapshot(machine)) << "--plan changed the machine";
  std::vector<PlanStep> steps = planSteps(planned.out);
  ASSERT_FALSE(steps.empty()) << planned.out;

  RunResult run = machine.run({"i"});
  EXPECT_EQ(0, run.exitCode) << run.out << run.err;
  SCOPED_TRACE(planned.out + run.out + run.err);

  auto before_content = [&](const std::string& path) -> std::optional<std::string> {
    for (const auto& [name, entry] : before) {
      if (fs::path(name) == fs::path(path)) return entry.first;
    }
    // The machine's names may differ in case from the profile's.
    std::string lower = path;
    for (auto& [name, entry] : before) {
      std::string a = name, b = lower;
      std::transform(a.begin(), a.end(), a.begin(), ::tolower);
      std::transform(b.begin(), b.end(), b.begin(), ::tolower);
      if (a == b) return entry.first;
    }
    return std::nullopt;
  };

  int failures = 0;
  bool restartNeeded = false;
  std::string rebootProgram;
  std::vector<std::pair<std::string, std::optional<std::string>>> waiting;
  for (const PlanStep& step : steps) {
    const std::string& text = step.text;
    SCOPED_TRACE(text);
    if (contains(text, ": fails: ")) {
      ++failures;
      continue;
    }
    if (startsWith(text, "INI ")) {
      std::string path = hostPath(machine, field(text, 4, " ["));
      std::string setting = text.substr(text.find("] ") + 2);
      std::string ini = machine.readFile(path).value_or("");
      if (contains(setting, " deleted")) {
        std::string key = setting.substr(0, setting.find(" deleted"));
        EXPECT_FALSE(contains(ini, "\n" + key + "=")) << ini;
      } else {
        EXPECT_TRUE(contains("\n" + ini, "\n" + setting.substr(0, setting.rfind(" (")) + "\r\n"))
            << ini;
      }
    } else if (startsWith(text, "REG ")) {
      std::string key = field(text, 4, ": ");
      std::string action = text.substr(text.find(": ") + 2);
      if (startsWith(action, "sets ")) {
        std::size_t to = action.rfind(" to \"");
        std::string name = action.substr(5, to - 5);
        name = name == "the default value" ? "" : name.substr(1, name.size() - 2);
        EXPECT_EQ(action.substr(to + 5, action.size() - to - 6),
                  machine.getRegistryValue(key, name).value_or("(none)"));
      } else if (startsWith(action, "deletes the value \"")) {
        std::string name = action.substr(19, action.size() - 20);
        EXPECT_FALSE(machine.getRegistryValue(key, name).has_value());
      } else {
        EXPECT_FALSE(machine.registryKeyExists(key));
      }
    } else if (startsWith(text, "FILE ") || startsWith(text, "SUBST ") ||
               startsWith(text, "FINDFILE ") || startsWith(text, "COPY ")) {
      std::size_t start = text.find(' ') + 1;
      std::string target =
          hostPath(machine, field(text, start, startsWith(text, "COPY ") ? " from " : ": "));
      std::optional<std::string> old = before_content(target);
      std::optional<std::string> now = machine.readFile(target);
      if (contains(text, ": skipped") || contains(text, "waits for the restart")) {
        EXPECT_EQ(old, now) << target;
        if (contains(text, "waits for the restart")) waiting.emplace_back(target, old);
      } else {
        ASSERT_TRUE(now.has_value()) << target;
        EXPECT_NE(old, now) << target;
        std::size_t keeping = text.find("keeping the installed file as ");
        if (keeping != std::string::npos) {
          std::string backup = field(text, keeping + 30, " (");
          EXPECT_EQ(old, machine.readFile(hostPath(machine, backup))) << backup;
        }
      }
    } else if (startsWith(text, "RENAME ")) {
      std::string source = hostPath(machine, field(text, 7, " to "));
      std::string destination = hostPath(machine, field(text, text.find(" to ") + 4, ": "));
      if (contains(text, "waits for the restart")) {
        EXPECT_TRUE(machine.exists(source)) << source;
      } else {
        EXPECT_FALSE(machine.exists(source)) << source;
        EXPECT_EQ(before_content(source), machine.readFile(destination)) << destination;
      }
    } else if (startsWith(text, "ERASE ")) {
      std::string path = hostPath(machine, field(text, 6, ": "));
      if (!contains(text, "nothing to do")) {
        EXPECT_FALSE(machine.exists(path)) << path;
      }
      std::size_t renamed = text.find("renamed to ");
      if (renamed != std::string::npos) {
        std::string backup = hostPath(machine, field(text, renamed + 11, " now"));
        EXPECT_EQ(before_content(path), machine.readFile(backup)) << backup;
      }
    } else if (startsWith(text, "patch ") && contains(text, " is recorded as ")) {
      std::string key = field(text, text.find(" as ") + 4, " in");
      std::string patch = field(text, 6, " is");
      std::string ledger = machine.readFile(machine.getWindowsDir() + "/TAVRO.INI").value_or("");
      EXPECT_TRUE(contains(ledger, key + "=" + patch)) << ledger;
    } else if (startsWith(text, "a restart is needed")) {
      restartNeeded = true;
      std::size_t program = text.find("the reboot program ");
      if (program != std::string::npos) rebootProgram = field(text, program + 19, " is started");
    }
  }
  EXPECT_EQ(failures, std::count(run.err.begin(), run.err.end(), '\a')) << run.err;
  // A named reboot program is started instead of the request to restart.
  EXPECT_EQ(restartNeeded && rebootProgram.empty(), contains(run.out, kRestartText)) << run.out;
  if (!restartNeeded) {
    EXPECT_TRUE(waiting.empty());
  }

  // What waited is in place after the restart.
  if (!waiting.empty()) {
    machine.restart();
    for (const auto& [target, old] : waiting) {
      EXPECT_NE(old, machine.readFile(target)) << target << " after the restart";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExamplePatch,
                         ::testing::Values(std::make_pair("driver-update", 2),
                                           std::make_pair("driver-update", 1),
                                           std::make_pair("settings", 2),
                                           std::make_pair("settings", 1),
                                           std::make_pair("help-language", 2)),
                         [](const auto& info) {
                           std::string name = std::string(info.param.first) + "_on_" +
                                              (info.param.second == 1 ? "Windows95" : "WindowsNT");
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

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
                                                    {kProfile, kProfile}}) {
    RunResult wrong = machine.runChecker(arguments);
    EXPECT_EQ(2, wrong.exitCode);
    EXPECT_EQ("usage: tvpcheck [--plan] [--patch-dir DIR] PROFILE.DAT\n", wrong.err);
  }
}

}  // namespace
