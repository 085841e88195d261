// What a restart of Windows does with the steps put off to it, for the POSIX
// build, where no system carries them out: first the section "rename" of
// WININIT.INI in the Windows directory, which then becomes WININIT.BAK, then
// the queue of registrations made through scheduleMoveAtRestart, which is
// emptied. Playing the Windows 95 family (TVPAT_WINVER), it carries out no
// line of WININIT.INI that names a long name, as WININIT.EXE cannot. The
// program tvprestart calls it once; tests call it directly. It works on the
// POSIX stand-ins' own files, so it is built on Linux only.
#ifndef TOOLS_TVPRESTART_RESTART_SIMULATION_H_
#define TOOLS_TVPRESTART_RESTART_SIMULATION_H_

#include <string>
#include <vector>

namespace tvprestart {

// Carries out the deferred steps of `windowsDirectory`, appending one line to
// `report` per step done and per failure. Returns false when any step
// failed; the other steps are still carried out, as a restart would.
bool carryOutRestart(const std::string& windowsDirectory, std::vector<std::string>* report);

}  // namespace tvprestart

#endif  // TOOLS_TVPRESTART_RESTART_SIMULATION_H_
