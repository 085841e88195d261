// The run of the installer from start to end: catalogue, Windows directory,
// run configuration, switches, the settings of section "Patch", banner,
// engine, end of processing, restart hand-over and teardown. It owns every
// long-lived object of the run and is the one place that handles Error.
#ifndef SRC_DRIVER_RUN_H_
#define SRC_DRIVER_RUN_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What a dry run watches of a run, instead of a console.
struct RunWatch {
  // Each text the run writes to the console, as written; toErrors for
  // standard error.
  std::function<void(const std::string& text, bool toErrors)> console;
  // The profile line (counted from 0) whose condition or entry is taken up
  // next; Profile::kNoLine when the run goes on with neither.
  std::function<void(std::size_t position)> line;
};

// Runs the installer on the program's arguments and returns the exit code.
int runInstaller(int argc, char** argv);

// Runs the installer at programPath, whose profile and catalogue stand beside
// it, with arguments (the program name not among them), and returns the exit
// code. A critical error, or the engine's early end, ends the run with exit
// code 1 and no teardown: the run's objects are left as they are, unwritten
// and never destroyed. With a watch, what the run prints goes to it.
int runPatch(const std::string& programPath, const std::vector<std::string>& arguments,
             const RunWatch* watch = nullptr);

#endif  // SRC_DRIVER_RUN_H_
