// Steps that cannot be carried out, and steps that wait for the restart, as
// a user meets them: a step that cannot succeed is an error line and puts
// nothing off; what waits for the restart arrives whole; no file loses its
// place or its backup, also when a run is repeated.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

const char kRestartText[] = "Please restart Windows";
const char kCouldNotRename[] = "A file could not be renamed: ";
const char kCouldNotCopy[] = "A file could not be copied: ";

struct StepCase {
  std::string name;
  int kind;
  bool wineOnly;
  // Product files as {relative path, content}, all stamped 2000-01-01, and
  // the section's entries. The patch directory holds NEWDRV.DLL ("new") and
  // patchFiles, all stamped 2001-06-01.
  std::vector<std::pair<std::string, std::string>> productFiles;
  std::vector<std::pair<std::string, std::string>> patchFiles;
  std::string entries;
  std::function<void(Machine&)> beforeRun;
  std::function<void(Machine&, const RunResult&)> check;
};

std::string product(const Machine& machine, const std::string& relative) {
  return machine.getProductDir() + "/" + relative;
}

std::string shown(const Machine& machine, const std::string& relative) {
  std::string path = machine.shownProductDir() + "\\" + relative;
  return path;
}

void prepare(Machine& machine, const StepCase& step) {
  machine.setPlatformKind(step.kind);
  machine.writeFile(machine.getPatchDir() + "/NEWDRV.DLL", "new");
  machine.setStamp(machine.getPatchDir() + "/NEWDRV.DLL", 2001, 6, 1, 12, 0, 0);
  for (const auto& file : step.patchFiles) {
    machine.writeFile(machine.getPatchDir() + "/" + file.first, file.second);
    machine.setStamp(machine.getPatchDir() + "/" + file.first, 2001, 6, 1, 12, 0, 0);
  }
  for (const auto& file : step.productFiles) {
    machine.writeFile(product(machine, file.first), file.second);
    machine.setStamp(product(machine, file.first), 2000, 1, 1, 12, 0, 0);
  }
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  // No patch string: the patch is never recorded, so it can be run again.
  machine.writeProfile("[Patch]\r\nCondition0=S," + std::to_string(step.kind) +
                       ",0,Version,Level,1\r\nBackup=1\r\n\r\n[S]\r\n" + step.entries);
}

// The same for a case that needs only product files and entries.
void prepareEntries(Machine& machine, int kind,
                    const std::vector<std::pair<std::string, std::string>>& productFiles,
                    const std::string& entries) {
  prepare(machine, {"", kind, false, productFiles, {}, entries, nullptr, nullptr});
}

// An error line and nothing else: no restart asked for, nothing put off,
// and the run is no success.
void expectRefusedAlone(const Machine& machine, const RunResult& result,
                        const std::string& errorLine) {
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "\n\a" + errorLine + "\n" + kPatchNotRecordedLine);
  EXPECT_EQ(result.out.find(kRestartText), std::string::npos) << result.out;
  EXPECT_TRUE(machine.getPendingMoves().empty());
  EXPECT_FALSE(machine.exists(machine.getWindowsDir() + "/WININIT.INI"));
}

// A step refused with the error line `error` + the product path `named` as
// the program shows it, and nothing else: every product file keeps its
// content, and the names in `absent` stay absent.
StepCase refusedStep(const std::string& name, int kind,
                     const std::vector<std::pair<std::string, std::string>>& productFiles,
                     const std::string& entries, const std::string& error, const std::string& named,
                     const std::vector<std::string>& absent) {
  return {name,
          kind,
          false,
          productFiles,
          {},
          entries,
          nullptr,
          [=](Machine& machine, const RunResult& result) {
            expectRefusedAlone(machine, result, error + shown(machine, named));
            for (const auto& file : productFiles) {
              EXPECT_EQ(machine.readFile(product(machine, file.first)), file.second);
            }
            for (const std::string& relative : absent) {
              EXPECT_FALSE(machine.exists(product(machine, relative))) << relative;
            }
          }};
}

void walk(const std::vector<StepCase>& cases) {
  for (const StepCase& step : cases) {
    SCOPED_TRACE(step.name);
    Machine machine;
    if (step.wineOnly && !machine.isWine()) continue;
    prepare(machine, step);
    if (step.beforeRun) step.beforeRun(machine);
    RunResult result = machine.run();
    step.check(machine, result);
  }
}

TEST(FailedSteps, AreReportedAndNothingIsPutOff) {
  walk({
      refusedStep("rename without a source", 2, {}, "RENAME1=TAVRO,A.DLL,B.DLL\r\n",
                  kCouldNotRename, "A.DLL", {"B.DLL", "B.OLD"}),
      refusedStep("rename into a directory that is not there", 1, {{"A.DLL", "a"}},
                  "RENAME1=TAVRO,A.DLL,NEW\\\\A.DLL\r\n", kCouldNotRename, "NEW\\A.DLL", {}),
      refusedStep("copy into a directory that is not there", 2, {{"A.DLL", "a"}},
                  "COPY1=TAVRO,A.DLL,NEW\\\\A.DLL\r\n", kCouldNotCopy, "NEW\\A.DLL", {"NEW"}),
      refusedStep("file into a subdirectory that is a plain file", 1, {{"SUB", "plain"}},
                  "FILE1=TAVRO,NEWDRV.DLL,SUB\r\n", kCouldNotCopy, "SUB\\NEWDRV.DLL", {}),
      {"copy for the restart that cannot be made",
       1,
       true,
       {{"NEWDRV.DLL", "old"}},
       {},
       "FILE1=TAVRO,NEWDRV.DLL\r\n",
       [](Machine& machine) {
         // ARCHIVE\TEMP is a file, so no copy can wait there; the destination
         // is in use, so it cannot be replaced now.
         machine.writeFile(product(machine, "ARCHIVE/TEMP"), "in the way");
         machine.holdFile(product(machine, "NEWDRV.DLL"), true);
       },
       [](Machine& machine, const RunResult& result) {
         machine.releaseFiles();
         EXPECT_EQ(result.exitCode, 1);
         EXPECT_NE(result.err.find(kCouldNotCopy), std::string::npos) << result.err;
         EXPECT_NE(result.err.find(kPatchNotRecordedLine), std::string::npos) << result.err;
         EXPECT_EQ(result.out.find(kRestartText), std::string::npos) << result.out;
         EXPECT_FALSE(machine.exists(machine.getWindowsDir() + "/WININIT.INI"));
         machine.restart();
         EXPECT_EQ(machine.readFile(product(machine, "NEWDRV.DLL")), "old");
         EXPECT_FALSE(machine.exists(product(machine, "NEWDRV.OLD")));
       }},
  });
}

TEST(FailedSteps, WhatWaitsForTheRestartArrivesWhole) {
  walk({
      {"a SUBST copy filled in before it waits",
       1,
       false,
       {{"CONF/A.CFG", "old"}},
       {{"A.CFG", "root=\\TAVRO\r\n"}},
       "SUBST1=TAVRO,A.CFG,CONF,,,0\r\n",
       nullptr,
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.err, "");
         EXPECT_NE(result.out.find(kRestartText), std::string::npos) << result.out;
         // Not rewritten in place: the old file waits for its replacement.
         EXPECT_EQ(machine.readFile(product(machine, "CONF/A.CFG")), "old");
         RunResult restart = machine.restart();
         EXPECT_EQ(restart.exitCode, 0) << restart.out << restart.err;
         EXPECT_EQ(machine.readFile(product(machine, "CONF/A.CFG")),
                   "root=" + machine.shownProductDir() + "\r\n");
       }},
  });
}

TEST(FailedSteps, RunningARenameAgainKeepsTheFileAndItsBackup) {
  for (int kind : {1, 2}) {
    SCOPED_TRACE(kind);
    Machine machine;
    prepareEntries(machine, kind, {{"A.DLL", "a"}, {"B.DLL", "b"}},
                   "RENAME1=TAVRO,A.DLL,B.DLL,,1\r\n");
    RunResult first = machine.run();
    EXPECT_EQ(first.err, "");
    RunResult second = machine.run();
    // Reported, yet the rename has reached its end: the run is a success.
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.err, "\n\a" + std::string(kCouldNotRename) + shown(machine, "A.DLL") + "\n");
    EXPECT_EQ(second.out.find(kRestartText), std::string::npos) << second.out;
    machine.restart();
    EXPECT_EQ(machine.readFile(product(machine, "B.DLL")), "a");
    EXPECT_EQ(machine.readFile(product(machine, "B.OLD")), "b");
    EXPECT_FALSE(machine.exists(product(machine, "A.DLL")));
  }
}

// The backup rename of a replacement is recorded in the run journal in
// ARCHIVE, so a temporary directory with no room (here a file in its place)
// stops nothing that need not wait for the restart, and no earlier .OLD is
// lost on the way.
TEST(FailedSteps, AReplacementWithBackupNeedsNoRoomInTheTemporaryDirectory) {
  for (int kind : {1, 2}) {
    SCOPED_TRACE(kind);
    Machine machine;
    prepareEntries(machine, kind, {{"NEWDRV.DLL", "old"}, {"NEWDRV.OLD", "older"}},
                   "FILE1=TAVRO,NEWDRV.DLL\r\n");
    machine.writeFile(product(machine, "ARCHIVE/TEMP"), "in the way");
    RunResult result = machine.run();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(machine.readFile(product(machine, "NEWDRV.DLL")), "new");
    EXPECT_EQ(machine.readFile(product(machine, "NEWDRV.OLD")), "old");
  }
}

TEST(FailedSteps, WindowsNtSeesThePatchItRecorded) {
  Machine machine;
  machine.setPlatformKind(2);
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                          "\r\n\r\n[Install]\r\nPatch0=FIX11\r\n");
  machine.writeProfile(
      "[Patch]\r\nPatch=FIX12\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n"
      "INI1=TAVRO,RUN.INI,Run,Count,1\r\n");
  RunResult first = machine.run();
  EXPECT_EQ(first.exitCode, 0);
  // Recorded under the number free in the copy NT writes, not over FIX11.
  std::string ledger = machine.readFile(machine.getWindowsDir() + "/TAVRO.INI").value_or("");
  EXPECT_NE(ledger.find("Patch0=FIX11\r\nPatch1=FIX12\r\n"), std::string::npos) << ledger;
  RunResult second = machine.run();
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.err, "\n\aThis patch is already installed.\n");
}

}  // namespace
