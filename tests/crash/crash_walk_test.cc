// The crash walk: the example patch, run on the Linux build and killed at
// every platform call in turn, then run again an hour later to its end and
// restarted, must leave the product and the Windows directory exactly as one
// uninterrupted run does. The stand-ins offer only what the Windows they play
// offers, so the walk takes the paths the Windows program takes. Each kill
// point gets a fresh machine copied from a prepared template, at the same
// paths as the reference run, so that files naming the product root compare
// byte for byte.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "e2e/machine.h"
#include "support/file_tree.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The example patch below the source tree: machine/ holds the product root
// (TAVRO) and the Windows directory (WINDOWS) before the patch, patch/ the
// patch directory without the program.
const char kExampleFolder[] = "examples/driver-update";

std::string requiredVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string("the crash walk needs ") + name + " to be set");
  }
  return value;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Windows keeps INI and registry files with CR LF line ends; the example's
// are checked in with LF.
std::string withCrLf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

// Loads the example into the machine as scripts/demo.sh does: installed
// files from 2001, the patch's from 2002, so that the patch replaces them.
void loadExample(Machine& machine) {
  const std::string example = requiredVariable("TVPAT_E2E_SOURCE") + "/" + kExampleFolder;
  copyTree(example + "/machine/TAVRO", machine.getProductDir());
  copyTree(example + "/machine/WINDOWS", machine.getWindowsDir());
  copyTree(example + "/patch", machine.getPatchDir());
  for (const std::string& dir : {machine.getProductDir(), machine.getWindowsDir()}) {
    for (const auto& [name, content] : readTree(dir)) {
      if (!content) continue;
      const std::string path = dir + "/" + name;
      if (endsWith(upper(name), ".INI") || endsWith(upper(name), ".REG")) {
        machine.writeFile(path, withCrLf(*content));
      }
      if (dir == machine.getProductDir()) machine.setStamp(path, 2001, 3, 1, 12, 0, 0);
    }
  }
  for (const auto& [name, content] : readTree(example + "/patch")) {
    machine.setStamp(machine.getPatchDir() + "/" + name, 2002, 6, 1, 12, 0, 0);
  }
}

// The example machine of one kind of Windows, made once and put back from
// its template before every run. The installer and the killable program are
// hard-linked into the patch directory in turn: the installer finds its
// catalogue and profile beside the path it was started by, and a link costs
// nothing where a copy of the program would dominate the walk (a file system
// without links gets copies).
class ExampleMachine {
 public:
  explicit ExampleMachine(int kind) {
    machine.setPlatformKind(kind);
    loadExample(machine);
    fs::remove(programPath());
    copyTree(machine.getRoot(), stash.file("template"));
    machine.copyProgramTo(stash.file("installer"));
    fs::copy_file(requiredVariable("TVPAT_E2E_KILLABLE"), stash.file("killable"),
                  fs::copy_options::overwrite_existing);
  }

  // A fresh machine: the template in place of whatever the last run left.
  void reset() {
    for (const fs::directory_entry& entry : fs::directory_iterator(machine.getRoot())) {
      fs::remove_all(entry.path());
    }
    copyTree(stash.file("template"), machine.getRoot());
  }

  // Runs the installer, or the killable program killed at call killAt (0:
  // not at all), in the patch directory.
  RunResult run(const std::string& program, unsigned long killAt = 0) {
    fs::remove(programPath());
    std::error_code noLinks;
    fs::create_hard_link(stash.file(program), programPath(), noLinks);
    if (noLinks) fs::copy_file(stash.file(program), programPath());
    machine.setEnvironment("TVPAT_KILL_AT", std::to_string(killAt));
    return machine.runProgramAt(programPath(), {});
  }

  // The number of platform calls of one whole run.
  unsigned long countCalls() {
    reset();
    machine.setEnvironment("TVPAT_CALL_COUNT_FILE", stash.file("count"));
    RunResult result = run("killable");
    machine.setEnvironment("TVPAT_CALL_COUNT_FILE", "");
    std::optional<std::string> count = stash.read("count");
    if (result.exitCode != 0 || !count) {
      throw std::runtime_error("the counting run failed:\n" + result.out + result.err);
    }
    return std::stoul(*count);
  }

  // Dates every file of the product and the Windows directory that was
  // written at or after `since` an hour back, as if the run that wrote it
  // had been cut off an hour before the rerun: a rerun at once would find
  // the killed run's stamps and its own within the two seconds of one DOS
  // stamp, equal by luck.
  void dateBackWrittenSince(fs::file_time_type since) {
    for (const std::string& dir : {machine.getProductDir(), machine.getWindowsDir()}) {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const fs::file_time_type written = entry.last_write_time();
        if (written >= since) fs::last_write_time(entry.path(), written - std::chrono::hours(1));
      }
    }
  }

  // Carries out the restart and reads what is compared: the product root and
  // the Windows directory. The patch directory, with the log, is left out.
  FileTree restartAndRead() {
    machine.restart();
    FileTree tree;
    for (const auto& [name, content] : readTree(machine.getProductDir())) {
      tree["TAVRO/" + name] = content;
    }
    for (const auto& [name, content] : readTree(machine.getWindowsDir())) {
      tree["WINDOWS/" + name] = content;
    }
    return tree;
  }

 private:
  std::string programPath() const { return machine.getPatchDir() + "/tvpat32"; }

  Machine machine;
  TempDir stash;
};

// What a killed run and its rerun may leave that one run does not, without
// harm, and so is not compared:
// - files inside ARCHIVE\TEMP: copies waiting for a restart. A killed run may
//   leave one that its rerun does not reuse; the restart moves only those it
//   was told about, and nothing else ever reads that directory.
// - leftover temporary files anywhere: the file operations' 8.3 names ("TV"
//   and six characters, such as TVa4.k2m), the INI saver's ~TVPnnnn.TMP and
//   the registry stand-in's REGISTRY.REG.xxxxxx. A kill between making one
//   and putting it in place leaves it, and no run takes it for a real file.
// - the aside copy of a save on the Windows 95 family (eight characters and
//   ".~SV"): a kill after the new file took its place and before the copy
//   was removed leaves it. It is never read while the file is there, and the
//   next save of the file removes it.
// - WININIT.BAK: the restart's record of the steps it carried out. A killed
//   run and its rerun may both have queued the same replacement; the record
//   is longer, the files it leaves are the same.
// The log lies in the patch directory, which is not read at all.
bool isExcepted(const std::string& path) {
  const std::string key = upper(path);
  const std::string name = key.substr(key.find_last_of('/') + 1);
  if (key.rfind("TAVRO/ARCHIVE/TEMP/", 0) == 0) return true;
  if (key == "WINDOWS/WININIT.BAK") return true;
  if (name.size() == 8 && name.compare(0, 2, "TV") == 0 && name[4] == '.') return true;
  if (name.rfind("~TVP", 0) == 0 && endsWith(name, ".TMP")) return true;
  if (name.size() == 12 && name.compare(8, 4, ".~SV") == 0) return true;
  const std::size_t dot = name.find_last_of('.');
  return name.rfind("REGISTRY.REG.", 0) == 0 && name.size() == dot + 7;
}

struct Difference {
  std::string kind;
  std::string path;
  std::string detail;
};

std::string describeBytes(const std::string& expected, const std::string& actual) {
  std::size_t same = 0;
  while (same < expected.size() && same < actual.size() && expected[same] == actual[same]) ++same;
  return std::to_string(actual.size()) + " bytes where one run leaves " +
         std::to_string(expected.size()) + ", first difference at byte " + std::to_string(same);
}

// Every way in which `actual` differs from `reference`, excepted paths aside.
std::vector<Difference> compareTrees(const FileTree& reference, const FileTree& actual) {
  std::vector<Difference> differences;
  std::set<std::string> paths;
  for (const auto& entry : reference) paths.insert(entry.first);
  for (const auto& entry : actual) paths.insert(entry.first);
  for (const std::string& path : paths) {
    if (isExcepted(path)) continue;
    auto expected = reference.find(path);
    auto found = actual.find(path);
    const bool isBackup = endsWith(upper(path), ".OLD");
    if (found == actual.end()) {
      differences.push_back({expected->second ? "lost file" : "lost directory", path, ""});
    } else if (expected == reference.end()) {
      differences.push_back({!found->second ? "extra directory"
                             : isBackup     ? "extra .OLD"
                                            : "extra file",
                             path, ""});
    } else if (expected->second.has_value() != found->second.has_value()) {
      differences.push_back({"file and directory swapped", path, ""});
    } else if (expected->second && *expected->second != *found->second) {
      const std::string& want = *expected->second;
      const std::string& got = *found->second;
      const bool cut = got.size() < want.size() && want.compare(0, got.size(), got) == 0;
      differences.push_back({cut        ? "partly written file"
                             : isBackup ? ".OLD holding other bytes"
                                        : "other bytes",
                             path, describeBytes(want, got)});
    }
  }
  return differences;
}

// The comparison must name each kind of damage, and must except nothing but
// the leftovers it is meant to: a name that merely looks like one is a
// difference.
TEST(CrashWalkComparison, NamesEachDifferenceAndExceptsOnlyLeftovers) {
  enum Change { kWrite, kRemove, kMakeDirectory };
  const struct {
    const char* path;
    Change change;
    const char* content;
    const char* kind;  // empty: no difference
  } cases[] = {
      {"TAVRO/BIN/VIEWER.EXE", kWrite, "new", "partly written file"},
      {"TAVRO/BIN/VIEWER.EXE", kWrite, "", "partly written file"},
      {"TAVRO/BIN/VIEWER.EXE", kWrite, "new viewer, longer", "other bytes"},
      {"TAVRO/BIN/VIEWER.EXE", kRemove, "", "lost file"},
      {"TAVRO/BIN/VIEWER.EXE", kMakeDirectory, "", "file and directory swapped"},
      {"TAVRO/BIN/VIEWER.OLD", kWrite, "new viewer", ".OLD holding other bytes"},
      {"TAVRO/BIN/TVCORE.OLD", kWrite, "old core", "extra .OLD"},
      {"TAVRO/BIN/TVOLD.EXE", kWrite, "old", "extra file"},
      {"TAVRO/BIN/TVOLDEXE", kWrite, "old", "extra file"},
      {"TAVRO/ARCHIVE/TEMP", kRemove, "", "lost directory"},
      {"TAVRO/ARCHIVE/TEMPLATE.TXT", kWrite, "x", "extra file"},
      {"WINDOWS/REGISTRY.REG.OLD", kWrite, "x", "extra .OLD"},
      {"TAVRO/ARCHIVE/TEMP/VIEWER.EXE", kWrite, "x", ""},
      {"TAVRO/BIN/TVa0.k2m", kWrite, "x", ""},
      {"TAVRO/CONFIG/~TVP0001.TMP", kWrite, "x", ""},
      {"TAVRO/CONFIG/BIENALC8.~SV", kWrite, "x", ""},
      {"TAVRO/CONFIG/TAVRO.CFG.~SV", kWrite, "x", "extra file"},
      {"WINDOWS/REGISTRY.REG.aB3xYz", kWrite, "x", ""},
      {"WINDOWS/wininit.bak", kWrite, "x", ""},
  };
  const FileTree reference = {{"TAVRO/ARCHIVE", std::nullopt},
                              {"TAVRO/ARCHIVE/TEMP", std::nullopt},
                              {"TAVRO/BIN", std::nullopt},
                              {"TAVRO/BIN/VIEWER.EXE", "new viewer"},
                              {"TAVRO/BIN/VIEWER.OLD", "old viewer"}};
  for (const auto& testCase : cases) {
    FileTree actual = reference;
    if (testCase.change == kRemove) {
      actual.erase(testCase.path);
    } else {
      actual[testCase.path] =
          testCase.change == kWrite ? std::optional<std::string>(testCase.content) : std::nullopt;
    }
    std::vector<Difference> differences = compareTrees(reference, actual);
    if (*testCase.kind == '\0') {
      EXPECT_TRUE(differences.empty())
          << testCase.path << " is reported as " << differences[0].kind;
      continue;
    }
    ASSERT_EQ(differences.size(), 1u) << testCase.path;
    EXPECT_EQ(differences[0].kind, testCase.kind) << testCase.path;
    EXPECT_EQ(differences[0].path, testCase.path);
  }
}

struct KindOfWindows {
  int kind;
  const char* name;
};

void PrintTo(const KindOfWindows& kind, std::ostream* stream) { *stream << kind.name; }

class CrashWalk : public ::testing::TestWithParam<KindOfWindows> {};

TEST_P(CrashWalk, EveryKillPointRerunEndsLikeOneRun) {
  ExampleMachine example(GetParam().kind);
  example.reset();
  RunResult first = example.run("installer");
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  const FileTree reference = example.restartAndRead();
  const unsigned long killPoints = example.countCalls();
  ASSERT_GT(killPoints, 0u);

  unsigned long alike = 0;
  unsigned long failedReruns = 0;
  // Per kind of difference: the kill points that show it, and how often.
  std::map<std::string, std::pair<unsigned long, unsigned long>> breakdown;
  for (unsigned long killAt = 1; killAt <= killPoints; ++killAt) {
    example.reset();
    // Whole seconds: a file system may keep a time rounded down.
    const fs::file_time_type killedRunStart =
        fs::file_time_type::clock::now() - std::chrono::seconds(2);
    RunResult killed = example.run("killable", killAt);
    ASSERT_EQ(killed.exitCode, 137) << "the run was not killed at call " << killAt;
    example.dateBackWrittenSince(killedRunStart);
    RunResult rerun = example.run("installer");
    if (rerun.exitCode != 0) ++failedReruns;
    std::vector<Difference> differences = compareTrees(reference, example.restartAndRead());
    if (differences.empty()) {
      ++alike;
      continue;
    }
    std::ostringstream report;
    report << killed.err << "rerun exit code " << rerun.exitCode << "\n";
    if (rerun.exitCode != 0) report << rerun.out << rerun.err;
    std::set<std::string> kinds;
    for (const Difference& difference : differences) {
      report << "  " << difference.kind << ": " << difference.path;
      if (!difference.detail.empty()) report << " (" << difference.detail << ")";
      report << "\n";
      kinds.insert(difference.kind);
      ++breakdown[difference.kind].second;
    }
    for (const std::string& kind : kinds) ++breakdown[kind].first;
    ADD_FAILURE() << "kill point " << killAt << " of " << killPoints << ":\n" << report.str();
  }

  std::cout << GetParam().name << ": " << killPoints << " kill points covered, " << alike
            << " ended exactly like one run, " << failedReruns
            << " reruns ended with an exit code other than 0\n";
  for (const auto& [kind, counts] : breakdown) {
    std::cout << "  " << kind << ": at " << counts.first << " kill points, " << counts.second
              << " times\n";
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CrashWalk,
                         ::testing::Values(KindOfWindows{1, "Windows95Family"},
                                           KindOfWindows{2, "WindowsNt"}),
                         [](const ::testing::TestParamInfo<KindOfWindows>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
