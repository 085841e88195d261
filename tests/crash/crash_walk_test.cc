// The crash walk: the example patch, run and cut off at one moment after
// another, then run again an hour later to its end and restarted, must leave
// the product and the Windows directory exactly as one uninterrupted run
// does. The rollback walk does the same to the run of another patch that
// finds the example cut off just before its ledger and rolls it back: every
// rerun ends with the machine as it was before the example. One harness
// serves both, and two ways of cutting a run off, its parameter:
// - on the Linux build, a killable copy of the installer ends itself at every
//   platform call in turn; the stand-ins offer only what the Windows they
//   play offers, so the walk takes the paths the Windows program takes;
// - under Wine, the real Windows program is killed from outside at moments
//   spread over the time it writes (see spreadOverWritingTime), since it has
//   no call counter and gets no switch for tests.
// Each kill point gets a fresh machine put back from a prepared template, at
// the same paths as the reference run, so that files naming the product root
// compare byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "e2e/machine.h"
#include "e2e/wine_prefix.h"
#include "support/file_tree.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace fs = std::filesystem;
using std::chrono::microseconds;
using std::chrono::steady_clock;

namespace {

// The example patch below TVPAT_E2E_EXAMPLES: machine/ holds the product
// root (TAVRO) and the Windows directory's files (WINDOWS) before the patch,
// patch/ the patch directory without the program.
const char kExample[] = "driver-update";

// The kill points of a walk under Wine. Each costs about three seconds,
// most of it the restart of Wine.
constexpr int kSamplesUnderWine = 60;
// The runs timed before a walk under Wine; their median sets its span.
constexpr int kTimedRuns = 5;

std::string requiredVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string("the crash walk needs ") + name + " to be set");
  }
  return value;
}

bool targetIsWine() {
  const char* target = std::getenv("TVPAT_E2E_TARGET");
  return target != nullptr && std::string(target) == "wine";
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

// A registry export as text to read in a report: "regedit /E" writes UTF-16.
std::string readable(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c != '\0' && c != '\r') result += c;
  }
  return result;
}

// Copies one entry, a file or a directory with everything in it, keeping
// time stamps.
void copyEntry(const fs::path& from, const fs::path& to) {
  if (fs::is_directory(from)) {
    copyTree(from.string(), to.string());
    return;
  }
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::last_write_time(to, fs::last_write_time(from));
}

// A REGEDIT4 import that first deletes the example's keys with everything a
// run added below them, then writes them as the example has them: importing
// the example alone would leave values a run added. A key right below a root
// (HKEY_CURRENT_USER\Software) is the system's and is never deleted.
std::string registryRestore(const std::string& exampleRegistry) {
  std::istringstream lines(exampleRegistry);
  std::string line;
  std::getline(lines, line);  // REGEDIT4
  std::string deletions;
  std::vector<std::string> deleted;
  std::string rest;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rest += line + "\r\n";
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    const std::string key = line.substr(1, line.size() - 2);
    if (std::count(key.begin(), key.end(), '\\') < 2) continue;
    bool below = false;
    for (const std::string& parent : deleted) {
      below |= upper(key).rfind(upper(parent) + "\\", 0) == 0;
    }
    if (below) continue;
    deleted.push_back(key);
    deletions += "[-" + key + "]\r\n\r\n";
  }
  return "REGEDIT4\r\n\r\n" + deletions + rest;
}

// The example machine of one kind of Windows, made once and put back from
// its template before every run. Natively the installer and the killable
// program are hard-linked into the patch directory in turn: the installer
// finds its catalogue and profile beside the path it was started by, and a
// link costs nothing where a copy of the program would dominate the walk (a
// file system without links gets copies). Under Wine the Windows program
// stays where the Machine put it.
//
// Under Wine the Windows directory is the prefix's C:\windows, a whole
// Windows of Wine's own, which Wine's restart and every Wine program may
// touch. The walk compares, dates back and puts back only the part of it
// that is not Wine's: the entries that were not there before the example
// was loaded (what the program writes there: TAVRO.HLP, WININIT.INI and
// WININIT.BAK, temporary and aside files) and TAVRO.INI, which the Machine
// wrote for the example. The registry keys the example brought stand in for
// the Linux build's REGISTRY.REG. Natively the Windows directory holds
// nothing else, and all of it is compared.
class ExampleMachine {
 public:
  explicit ExampleMachine(int kind) {
    for (const fs::directory_entry& entry : fs::directory_iterator(machine.getWindowsDir())) {
      const std::string name = entry.path().filename().string();
      if (upper(name) != "TAVRO.INI") wineOwn.insert(upper(name));
    }
    machine.setPlatformKind(kind);
    machine.loadExample(kExample);
    for (const fs::path& file : exampleFiles()) {
      if (!endsWith(upper(file.string()), ".INI") && !endsWith(upper(file.string()), ".REG")) {
        continue;
      }
      machine.writeFile(file.string(), withCrLf(machine.readFile(file.string()).value_or("")));
      machine.setStamp(file.string(), 2001, 3, 1, 12, 0, 0);
    }
    if (machine.isWine()) {
      const std::string registry =
          requiredVariable("TVPAT_E2E_EXAMPLES") + "/" + kExample + "/machine/WINDOWS/REGISTRY.REG";
      stash.write("restore.reg", registryRestore(readBytes(registry).value_or("REGEDIT4\r\n")));
    } else {
      fs::remove(programPath());
      machine.copyProgramTo(stash.file("installer"));
      fs::copy_file(requiredVariable("TVPAT_E2E_KILLABLE"), stash.file("killable"),
                    fs::copy_options::overwrite_existing);
    }
    stashMachine();
  }

  bool isWine() const { return machine.isWine(); }

  // Makes the template the example cut off at its last platform call before
  // it wrote the ledger, with `profile`, another patch's, in the patch
  // directory: the machine a rollback walk starts from.
  void leaveUnfinished(const std::string& profile) {
    for (unsigned long call = countCalls(); call > 0; --call) {
      reset();
      runKilledAtCall(call);
      bool recorded = false;
      for (const std::string& ini :
           {machine.getProductDir() + "/TAVRO.INI", machine.getWindowsDir() + "/TAVRO.INI"}) {
        recorded |= machine.readFile(ini).value_or("").find("=FIX12") != std::string::npos;
      }
      if (!recorded) break;
    }
    machine.writeProfile(profile);
    fs::remove_all(stash.file("root"));
    fs::remove_all(stash.file("windows"));
    stashMachine();
    expectedExitCode = 1;
  }

  // Makes the template the machine with the example installed and the
  // restart carried out, and the run the removal of its patch: the machine
  // a removal walk starts from.
  void leaveInstalled() {
    reset();
    runInstaller();
    machine.restart();
    fs::remove_all(stash.file("root"));
    fs::remove_all(stash.file("windows"));
    stashMachine();
    arguments = {"/r", "FIX12"};
  }

  // What a whole run of the profile in the patch directory ends with.
  int getExpectedExitCode() const { return expectedExitCode; }

  // A fresh machine: the template in place of whatever the last run left.
  void reset() {
    for (const fs::path& entry : windowsPart()) fs::remove_all(entry);
    for (const fs::directory_entry& entry : fs::directory_iterator(machine.getRoot())) {
      fs::remove_all(entry.path());
    }
    copyTree(stash.file("root"), machine.getRoot());
    copyTree(stash.file("windows"), machine.getWindowsDir());
    if (!isWine()) return;
    RunResult restored = machine.runProgramAt(machine.getWindowsDir() + "/regedit.exe",
                                              {"/S", machine.shown(stash.file("restore.reg"))});
    if (restored.exitCode != 0) {
      throw std::runtime_error("regedit could not put the registry back: " + restored.err);
    }
  }

  // Runs the installer to its end in the patch directory.
  RunResult runInstaller() {
    if (isWine()) return machine.run(arguments);
    return runNative("installer", 0);
  }

  // Runs the killable program, which ends itself at platform call killAt.
  RunResult runKilledAtCall(unsigned long killAt) { return runNative("killable", killAt); }

  // The number of platform calls of one whole run.
  unsigned long countCalls() {
    reset();
    machine.setEnvironment("TVPAT_CALL_COUNT_FILE", stash.file("count"));
    RunResult result = runNative("killable", 0);
    machine.setEnvironment("TVPAT_CALL_COUNT_FILE", "");
    std::optional<std::string> count = stash.read("count");
    if (result.exitCode != expectedExitCode || !count) {
      throw std::runtime_error("the counting run failed:\n" + result.out + result.err);
    }
    return std::stoul(*count);
  }

  // How long whole runs write, one time per run: from the moment the run's
  // first change (the product's ARCHIVE directory, made before anything else)
  // is seen to the moment the files are seen as one run leaves them,
  // `finished` (or the run's end, should they never be). A restart follows, so that the steps these
  // runs left for one are not carried out at the first kill point's.
  std::vector<microseconds> timeWriting(int runs, const FileTree& finished) {
    std::vector<microseconds> times;
    for (int i = 0; i < runs; ++i) {
      reset();
      const int run = machine.startCollected({});
      waitUntil([&] { return hasWritten() || machine.hasEnded(run); });
      const steady_clock::time_point firstChange = steady_clock::now();
      waitUntil([&] { return looksLike(finished) || machine.hasEnded(run); });
      const steady_clock::time_point lastChange = steady_clock::now();
      RunResult result = machine.collect(run);
      if (result.exitCode != 0) {
        throw std::runtime_error("the timed run failed:\n" + result.out + result.err);
      }
      times.push_back(std::chrono::duration_cast<microseconds>(lastChange - firstChange));
    }
    machine.restart();
    return times;
  }

  // Starts the installer and kills it from outside `delay` after its first
  // change is seen. Returns false when no change was seen (the run ended or
  // hung before it made one), and kills it then too.
  bool runKilledAfterFirstWrite(microseconds delay) {
    machine.start();
    const bool wrote = waitUntil([&] { return hasWritten(); });
    std::this_thread::sleep_for(delay);
    machine.kill();
    return wrote;
  }

  // The console output of the last run as far as its log holds it: all that
  // is left of the output of a run killed from outside.
  std::string readLog() const {
    return machine.readFile(machine.getPatchDir() + "/TVPAT32.LOG").value_or("(no log)\n");
  }

  // Dates every file of the product and the Windows directory that was
  // written at or after `since` an hour back, as if the run that wrote it
  // had been cut off an hour before the rerun: a rerun at once would find
  // the killed run's stamps and its own within the two seconds of one DOS
  // stamp, equal by luck.
  void dateBackWrittenSince(fs::file_time_type since) {
    std::vector<fs::path> entries = windowsPart();
    entries.push_back(machine.getProductDir());
    for (const fs::path& top : entries) {
      std::vector<fs::path> files = {top};
      if (fs::is_directory(top)) {
        files.clear();
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top)) {
          files.push_back(entry.path());
        }
      }
      for (const fs::path& file : files) {
        if (!fs::is_regular_file(file)) continue;
        const fs::file_time_type written = fs::last_write_time(file);
        if (written >= since) fs::last_write_time(file, written - std::chrono::hours(1));
      }
    }
  }

  // The files that are compared: the product root and the Windows
  // directory's part (see the class comment). The patch directory, with the
  // log, is left out.
  FileTree readFiles() const {
    FileTree tree;
    for (const auto& [name, content] : readTree(machine.getProductDir())) {
      tree["TAVRO/" + name] = content;
    }
    for (const fs::path& entry : windowsPart()) {
      const std::string name = "WINDOWS/" + entry.filename().string();
      if (!fs::is_directory(entry)) {
        tree[name] = readBytes(entry.string());
        if (!tree[name]) throw std::runtime_error("cannot read " + entry.string());
        continue;
      }
      tree[name] = std::nullopt;
      for (const auto& [below, content] : readTree(entry.string())) {
        tree[name + "/" + below] = content;
      }
    }
    return tree;
  }

  // Carries out the restart and reads what is compared: the files, and under
  // Wine the registry keys the example uses (natively they are in the file
  // REGISTRY.REG of the Windows directory).
  FileTree restartAndRead() {
    machine.restart();
    FileTree tree = readFiles();
    if (isWine()) tree[kRegistryEntry] = machine.registryText();
    return tree;
  }

  // The name under which restartAndRead gives the registry under Wine.
  static constexpr const char* kRegistryEntry = "REGISTRY";

 private:
  std::string programPath() const { return machine.getPatchDir() + "/tvpat32"; }

  // Keeps the machine as it is now as the template that reset puts back.
  void stashMachine() {
    for (const fs::directory_entry& entry : fs::directory_iterator(machine.getRoot())) {
      if (entry.path() == fs::path(machine.getWindowsDir())) continue;
      copyEntry(entry.path(), fs::path(stash.file("root")) / entry.path().filename());
    }
    for (const fs::path& entry : windowsPart()) {
      copyEntry(entry, fs::path(stash.file("windows")) / entry.filename());
    }
  }

  RunResult runNative(const std::string& program, unsigned long killAt) {
    fs::remove(programPath());
    std::error_code noLinks;
    fs::create_hard_link(stash.file(program), programPath(), noLinks);
    if (noLinks) fs::copy_file(stash.file(program), programPath());
    machine.setEnvironment("TVPAT_KILL_AT", std::to_string(killAt));
    return machine.runProgramAt(programPath(), arguments);
  }

  bool hasWritten() const { return machine.exists(machine.getProductDir() + "/ARCHIVE"); }

  // Whether the files, with the names of temporary files blanked out, are as
  // `state` has them, read while a run may be changing them: a file that goes
  // between listing and reading is a change.
  bool looksLike(const FileTree& state) const;

  // The top-level entries of the Windows directory that are not Wine's own.
  std::vector<fs::path> windowsPart() const {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(machine.getWindowsDir())) {
      if (wineOwn.count(upper(entry.path().filename().string())) == 0) {
        entries.push_back(entry.path());
      }
    }
    return entries;
  }

  // The example's INI and registry files on the machine: the product's and
  // those of the Windows directory's part.
  std::vector<fs::path> exampleFiles() const {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry :
         fs::recursive_directory_iterator(machine.getProductDir())) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    for (const fs::path& entry : windowsPart()) {
      if (fs::is_regular_file(entry)) files.push_back(entry);
    }
    return files;
  }

  Machine machine;
  TempDir stash;
  // Upper-case names of the Windows directory's entries that are Wine's.
  std::set<std::string> wineOwn;
  int expectedExitCode = 0;
  // The installer's arguments: none, or the removal of the example's patch.
  std::vector<std::string> arguments;
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

// A state with the names of temporary files blanked out wherever a file
// names one, as the restart's queue (WININIT.INI, natively also PENDMOVE.TXT)
// names the copy that waits in ARCHIVE\TEMP: each run draws those names anew,
// so a killed run that made every change leaves a queue that differs from
// one run's only in them. It serves to tell where a kill landed, never to
// compare what a rerun leaves.
FileTree withTemporaryNamesBlanked(FileTree state) {
  static const std::regex temporaryName(
      R"(([\\/])TV[^\\/.=\t\r\n]{2}\.[^\\/.=\t\r\n]{3}(?=[=\t\r\n]|$))");
  for (auto& entry : state) {
    if (entry.second) {
      *entry.second = std::regex_replace(*entry.second, temporaryName, "$1TV??.???");
    }
  }
  return state;
}

bool ExampleMachine::looksLike(const FileTree& state) const {
  try {
    return compareTrees(state, withTemporaryNamesBlanked(readFiles())).empty();
  } catch (const std::runtime_error&) {
    return false;
  }
}

// The files of a state as one text, excepted leftovers aside, so that two
// states compare as compareTrees compares them.
std::string stateKey(const FileTree& state) {
  std::string key;
  for (const auto& [path, content] : state) {
    if (isExcepted(path)) continue;
    key += path + (content ? '\1' + *content : std::string(1, '\2')) + '\0';
  }
  return key;
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

// Two restart queues that name different copies waiting in ARCHIVE\TEMP are
// alike once the copies' names are blanked out; names of real files stay,
// and so does a queue that names another file.
TEST(CrashWalkComparison, QueuesDifferingOnlyInTemporaryNamesAreAlike) {
  const auto blanked = [](const std::string& queue) {
    return *withTemporaryNamesBlanked({{"WINDOWS/WININIT.INI", queue}})["WINDOWS/WININIT.INI"];
  };
  EXPECT_EQ(blanked("[rename]\r\nZ:\\P\\BIN\\TVCORE.DLL=Z:\\P\\ARCHIVE\\TEMP\\TV00.0h8\r\n"),
            blanked("[rename]\r\nZ:\\P\\BIN\\TVCORE.DLL=Z:\\P\\ARCHIVE\\TEMP\\TVa4.k2m\r\n"));
  EXPECT_EQ(blanked("2\t/p/ARCHIVE/TEMP/TVa4.k2m\t/p/BIN/TVCORE.DLL\n"),
            blanked("2\t/p/ARCHIVE/TEMP/TVb7.x0q\t/p/BIN/TVCORE.DLL\n"));
  EXPECT_NE(blanked("Z:\\P\\BIN\\TVCORE.DLL=Z:\\P\\ARCHIVE\\TEMP\\TV00.0h8\r\n"),
            blanked("Z:\\P\\BIN\\VIEWER.EXE=Z:\\P\\ARCHIVE\\TEMP\\TV00.0h8\r\n"));
  EXPECT_NE(blanked("NUL=Z:\\P\\BIN\\TVOLD.EXE\r\n"), blanked("NUL=Z:\\P\\BIN\\TVOLX.EXE\r\n"));
}

// How a walk cuts a run off.
enum class CutOff {
  // The killable Linux program ends itself at each platform call in turn.
  kAtEachCall,
  // The Windows program, under Wine, is killed from outside after a delay.
  kAfterDelay,
};

struct Walk {
  int kind;
  const char* name;
  CutOff cutOff;
  // The run walked is the rollback of the example by another patch's run,
  // which then finds nothing to do.
  bool rollsBack = false;
  // The run walked is the removal of the installed example.
  bool removes = false;
};

// The other patch of a rollback walk: it holds nowhere, so that its run
// ends once it has rolled the example back.
std::string holdsNowhere(int kind) {
  return "[Patch]\r\nPatch=FIX99\r\nCondition0=None," + std::to_string(kind) +
         ",1,Version,Level,none\r\n\r\n[None]\r\nREBOOT1=1\r\n";
}

void PrintTo(const Walk& walk, std::ostream* stream) { *stream << walk.name; }

// One moment to cut a run off: a platform call, or a delay after the run's
// first change.
struct KillPoint {
  unsigned long call = 0;
  microseconds delay{0};
};

// The kill points under Wine, where no call can be counted: `samples`
// moments spread evenly over `writing`, the median of the times a few timed
// runs wrote for, each at a random place within its own equal share of it
// (with a fixed seed, so that every walk aims at the same moments). The
// clock starts when the run's first change is seen, not when the run is
// started: how long Wine takes to start the program varies from run to run
// by a fifth of a second, several times what the program then writes for,
// and a kill before the first change cuts nothing. How long the program
// writes varies too, by half on a busy machine: a run slower than the median
// is cut before its end by the last kills, a faster one after it, so the end
// of the run is reached without spending most kills past it. The check does
// not depend on where a kill lands, since every moment must end like one
// run: the timing decides only how much of the run the walk covers, which
// the walk counts and reports.
std::vector<KillPoint> spreadOverWritingTime(microseconds writing, int samples, int kind) {
  std::mt19937 random(20020601u + static_cast<unsigned>(kind));
  std::uniform_real_distribution<double> within(0.0, 1.0);
  std::vector<KillPoint> points;
  for (int i = 0; i < samples; ++i) {
    const double share = (i + within(random)) / samples;
    points.push_back({0, microseconds(static_cast<long long>(share * writing.count()))});
  }
  return points;
}

// The walks of the build under test: every platform call of the Linux
// program, or the Windows program under Wine killed after delays.
std::vector<Walk> walksOfTarget() {
  if (targetIsWine()) {
    return {{1, "Windows95FamilyUnderWine", CutOff::kAfterDelay},
            {2, "WindowsNtUnderWine", CutOff::kAfterDelay}};
  }
  return {{1, "Windows95Family", CutOff::kAtEachCall},
          {2, "WindowsNt", CutOff::kAtEachCall},
          {1, "Windows95FamilyRollback", CutOff::kAtEachCall, true},
          {2, "WindowsNtRollback", CutOff::kAtEachCall, true},
          {1, "Windows95FamilyRemoval", CutOff::kAtEachCall, false, true},
          {2, "WindowsNtRemoval", CutOff::kAtEachCall, false, true}};
}

class CrashWalk : public ::testing::TestWithParam<Walk> {};

TEST_P(CrashWalk, EveryKillPointRerunEndsLikeOneRun) {
  const Walk& walk = GetParam();
  ExampleMachine example(walk.kind);
  FileTree beforeExample;
  if (walk.rollsBack || walk.removes) {
    example.reset();
    beforeExample = example.restartAndRead();
    if (walk.rollsBack) {
      example.leaveUnfinished(holdsNowhere(walk.kind));
    } else {
      example.leaveInstalled();
    }
    example.reset();
  }
  // Where each kill landed is told from the files it left, against these.
  const FileTree untouched = withTemporaryNamesBlanked(example.readFiles());
  RunResult first = example.runInstaller();
  ASSERT_EQ(first.exitCode, example.getExpectedExitCode()) << first.out << first.err;
  const FileTree finished = withTemporaryNamesBlanked(example.readFiles());
  const FileTree reference = example.restartAndRead();
  if (walk.rollsBack || walk.removes) {
    // Rolled back or removed, the example has left nothing but the product's
    // ARCHIVE.
    const char* done = walk.rollsBack ? "rolled back: FIX12" : "removed: FIX12";
    ASSERT_NE(first.out.find(done), std::string::npos) << first.out << first.err;
    for (const Difference& difference : compareTrees(beforeExample, reference)) {
      if (difference.path.rfind("TAVRO/ARCHIVE", 0) == 0) continue;
      ADD_FAILURE() << "the rollback or removal left " << difference.kind << ": " << difference.path
                    << " " << difference.detail << "\n"
                    << beforeExample[difference.path].value_or("") << "\n"
                    << reference.at(difference.path).value_or("");
    }
  }

  std::vector<KillPoint> points;
  // Under Wine: how long the timed runs wrote, and their median, the span
  // over which the kills are spread.
  std::vector<microseconds> timed;
  microseconds writing{0};
  if (walk.cutOff == CutOff::kAtEachCall) {
    const unsigned long calls = example.countCalls();
    for (unsigned long call = 1; call <= calls; ++call) points.push_back({call, microseconds(0)});
  } else {
    timed = example.timeWriting(kTimedRuns, finished);
    std::sort(timed.begin(), timed.end());
    writing = timed[timed.size() / 2];
    points = spreadOverWritingTime(writing, kSamplesUnderWine, walk.kind);
  }
  ASSERT_FALSE(points.empty());

  unsigned long alike = 0;
  unsigned long failedReruns = 0;
  // Where the kills landed: before the run's first change (nothing cut),
  // after its last (nothing cut either), or in between.
  unsigned long beforeFirstChange = 0;
  unsigned long afterLastChange = 0;
  // The different states the killed runs left, excepted leftovers aside: how
  // many different moments of the run the walk reached.
  std::set<std::string> killedStates;
  // Per kind of difference: the kill points that show it, and how often.
  std::map<std::string, std::pair<unsigned long, unsigned long>> breakdown;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const KillPoint& point = points[i];
    example.reset();
    // Whole seconds: a file system may keep a time rounded down.
    const fs::file_time_type killedRunStart =
        fs::file_time_type::clock::now() - std::chrono::seconds(2);
    std::ostringstream moment;
    std::string killedOutput;
    if (walk.cutOff == CutOff::kAtEachCall) {
      RunResult killed = example.runKilledAtCall(point.call);
      ASSERT_EQ(killed.exitCode, 137) << "the run was not killed at call " << point.call;
      moment << "call " << point.call << " of " << points.size();
      killedOutput = killed.err;
    } else {
      ASSERT_TRUE(example.runKilledAfterFirstWrite(point.delay))
          << "the run made no change before its kill at sample " << i + 1;
      moment << std::fixed << std::setprecision(1) << "sample " << i + 1 << " of " << points.size()
             << ", killed " << point.delay.count() / 1000.0
             << " ms after its first change (the timed runs wrote for " << writing.count() / 1000.0
             << " ms)";
      killedOutput = "log of the killed run:\n" + example.readLog();
    }
    const FileTree killedState = withTemporaryNamesBlanked(example.readFiles());
    killedStates.insert(stateKey(killedState));
    const char* landed = "while it changed the machine";
    if (compareTrees(untouched, killedState).empty()) {
      ++beforeFirstChange;
      landed = "before its first change";
    } else if (compareTrees(finished, killedState).empty()) {
      ++afterLastChange;
      landed = "after its last change";
    }
    // A rollback compares no stamps, and must find the files it names as
    // they were left.
    if (!walk.rollsBack && !walk.removes) example.dateBackWrittenSince(killedRunStart);
    RunResult rerun = example.runInstaller();
    if (rerun.exitCode != example.getExpectedExitCode()) ++failedReruns;
    const FileTree after = example.restartAndRead();
    std::vector<Difference> differences = compareTrees(reference, after);
    if (differences.empty()) {
      ++alike;
      continue;
    }
    std::ostringstream report;
    report << "killed " << landed << "; it had changed";
    for (const Difference& change : compareTrees(untouched, killedState)) {
      report << " " << change.path;
    }
    report << "\n"
           << killedOutput << "rerun exit code " << rerun.exitCode << ", output:\n"
           << rerun.out << rerun.err;
    std::set<std::string> kinds;
    for (const Difference& difference : differences) {
      report << "  " << difference.kind << ": " << difference.path;
      if (difference.path == ExampleMachine::kRegistryEntry) {
        report << "\none run leaves:\n"
               << readable(reference.at(difference.path).value_or("")) << "this one:\n"
               << readable(after.at(difference.path).value_or(""));
      } else if (!difference.detail.empty()) {
        report << " (" << difference.detail << ")";
      }
      report << "\n";
      kinds.insert(difference.kind);
      ++breakdown[difference.kind].second;
    }
    for (const std::string& kind : kinds) ++breakdown[kind].first;
    ADD_FAILURE() << "kill point " << moment.str() << ":\n" << report.str();
  }

  std::cout << walk.name;
  if (example.isWine()) {
    std::cout << " (" << WinePrefix::get().getVersionFor(walk.kind) << ", timed runs wrote for";
    for (const microseconds& time : timed) std::cout << " " << time.count() / 1000 << " ms";
    std::cout << ")";
  }
  std::cout << ": " << points.size() << " kill points, "
            << points.size() - beforeFirstChange - afterLastChange
            << " cut the run while it changed the machine, " << beforeFirstChange
            << " came before its first change and " << afterLastChange << " after its last, "
            << killedStates.size() << " different states left; " << alike
            << " ended exactly like one run, " << failedReruns
            << " reruns ended with an exit code other than " << example.getExpectedExitCode()
            << "\n";
  for (const auto& [kind, counts] : breakdown) {
    std::cout << "  " << kind << ": at " << counts.first << " kill points, " << counts.second
              << " times\n";
  }
  // A walk whose kills mostly miss the run tests little: the kill points no
  // longer fit the run (under Wine, its timing or the first change the
  // clock starts from).
  EXPECT_GE(points.size() - beforeFirstChange - afterLastChange, points.size() / 2)
      << "too few kill points cut the run";
}

INSTANTIATE_TEST_SUITE_P(Kinds, CrashWalk, ::testing::ValuesIn(walksOfTarget()),
                         [](const ::testing::TestParamInfo<Walk>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
