// The start of the program named by "Reboot Program" or a REBOOT entry once a
// run that needs a restart is torn down. The name is taken relative to the
// current directory, never searched along PATH; batch files run through the
// command interpreter named by COMSPEC.
#ifndef SRC_DRIVER_REBOOT_PROGRAM_H_
#define SRC_DRIVER_REBOOT_PROGRAM_H_

#include <string>
#include <vector>

// What to start for name: the program file and its argument vector (the
// first element is the new process's own name). A name without an extension
// takes the first of ".EXE", ".BAT" and ".CMD" that exists, or stays as it is
// when none does. A ".BAT" or ".CMD" file becomes COMSPEC with "/c" and the
// file. Returns false when a batch file is named and COMSPEC is unset.
bool resolveRebootProgram(const std::string& name, std::string* program,
                          std::vector<std::string>* arguments);

// Starts the reboot program without waiting; false when it cannot be started.
bool startRebootProgram(const std::string& name);

#endif  // SRC_DRIVER_REBOOT_PROGRAM_H_
