// The run of the installer from start to end: catalogue, Windows directory,
// run configuration, switches, the settings of section "Patch", banner,
// engine, end of processing, restart hand-over and teardown. It owns every
// long-lived object of the run and is the one place that handles Error.
#ifndef SRC_DRIVER_RUN_H_
#define SRC_DRIVER_RUN_H_

// Runs the installer on the program's arguments and returns the exit code.
// A critical error ends the process from inside with exit code 1 and no
// teardown, as do the engine's early ends.
int runInstaller(int argc, char** argv);

#endif  // SRC_DRIVER_RUN_H_
