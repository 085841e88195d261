// PatchPlanner is the dry run of tvpcheck. It runs the installer itself, the
// same start, conditions, entries, ledger, teardown and reboot program, over
// a what-if backend (platform/what_if_backend.h) that reads this machine as
// the run's own earlier changes leave it and keeps every change to itself.
// The plan is what the run would print and what it would change, entry by
// entry: nothing on the machine is written, not even the lock or the
// journal. One planner makes one plan.
#ifndef TOOLS_TVPCHECK_PATCH_PLANNER_H_
#define TOOLS_TVPCHECK_PATCH_PLANNER_H_

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform {
class Backend;
class WhatIfBackend;
}  // namespace platform

class PatchPlanner {
 public:
  struct PlanLine {
    // The profile line the step comes from, counted from 1; 0 for a step of
    // the run as a whole.
    std::size_t line = 0;
    // The step of the run it belongs to, in the order the run takes them up.
    std::size_t step = 0;
    std::string text;
  };

  // profilePath is the profile as the installer would be given it; patchDir
  // is the installer's own directory, where its catalogue and the patch's
  // files are (empty: the profile's). The installer is taken to be named
  // after the profile.
  // With removePatch, the run planned is the removal of that installed
  // patch instead ("/r PATCH").
  PatchPlanner(const std::string& profilePath, const std::string& patchDir,
               const std::string& removePatch = std::string());

  PatchPlanner(const PatchPlanner&) = delete;
  PatchPlanner& operator=(const PatchPlanner&) = delete;

  // Works out the plan.
  void plan();

  const std::vector<PlanLine>& getLines() const { return lines; }
  // The exit code the run would end with.
  int getExitCode() const { return exitCode; }

  // One "NAME:LINE: plan: TEXT" (or "NAME: plan: TEXT") line per step.
  std::string format(const std::string& profileName) const;

 private:
  // What a file or registry entry held when last looked at: the machine's
  // state at first, then what the run left at the end of each step.
  using IniKeys = std::map<std::string, std::string>;
  struct KeyState {
    bool exists = false;
    std::optional<platform::RegistryValue> value;
  };

  // The run moves on to the step at position (Profile::kNoLine: the end);
  // lists what the step before changed in INI files and the registry.
  void beginStep(std::size_t position);
  void listStepChanges();
  void listIniChanges(const std::string& path, std::size_t step);
  void listKeyChange(const std::string& keyPath, bool isValue, const std::string& valueName,
                     std::size_t step);
  // The files and directories the run leaves changed, the steps it puts off
  // to the restart and the programs it starts.
  void listFileChanges();
  void listRestartSteps();
  // Text the run writes to standard output, or with toErrors to standard
  // error; each whole line becomes a plan line.
  void addConsoleText(const std::string& text, bool toErrors);
  void add(std::size_t step, const std::string& text);

  IniKeys iniKeysOf(platform::Backend& backend, const std::string& path);
  KeyState keyStateOf(platform::Backend& backend, const std::string& keyPath, bool isValue,
                      const std::string& valueName);

  std::string profilePath;
  std::string patchDir;
  std::string removePatch;
  // The run's log, as the profile names it.
  std::string logPath;
  platform::WhatIfBackend* whatIf = nullptr;
  // A second what-if backend over the machine alone, through which the
  // machine is read as it is: reads that tidy up (an aside copy put back)
  // change nothing there either.
  platform::WhatIfBackend* machine = nullptr;
  // The steps in the order the run takes them up; a step's number is its
  // index, and the what-if backend tags every change with it.
  std::vector<std::size_t> stepLines;
  std::map<std::string, IniKeys> iniSeen;
  std::map<std::string, KeyState> keysSeen;
  std::string pendingText[2];
  std::vector<PlanLine> lines;
  int exitCode = 0;
};

#endif  // TOOLS_TVPCHECK_PATCH_PLANNER_H_
