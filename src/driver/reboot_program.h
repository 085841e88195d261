// The start of the program named by "Reboot Program" or a REBOOT entry once a
// run that needs a restart is torn down. A relative name is looked for in the
// current directory, then beside the installer, never along PATH; batch files
// run through the command interpreter named by COMSPEC.
#ifndef SRC_DRIVER_REBOOT_PROGRAM_H_
#define SRC_DRIVER_REBOOT_PROGRAM_H_

#include <string>
#include <vector>

// What to start for name: the program file and its argument vector (the
// first element is the new process's own name). A relative name is looked
// for in the current directory, then in programDirectory (not when it is
// empty); an absolute one where it points. In each place a name without an
// extension takes the first of ".EXE", ".BAT" and ".CMD" that exists, then
// the name as it stands. A ".BAT" or ".CMD" file becomes COMSPEC with "/c"
// and the file. Returns false when no such file exists, or when a batch file
// is named and COMSPEC is unset.
bool resolveRebootProgram(const std::string& name, const std::string& programDirectory,
                          std::string* program, std::vector<std::string>* arguments);

// Starts the reboot program, looked up as resolveRebootProgram does, without
// waiting; false when it is not found or cannot be started.
bool startRebootProgram(const std::string& name, const std::string& programDirectory = "");

#endif  // SRC_DRIVER_REBOOT_PROGRAM_H_
