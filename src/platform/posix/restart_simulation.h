// What a restart of Windows does with the steps put off to it, for the POSIX
// build, where no system carries them out: first the section "rename" of
// WININIT.INI in the Windows directory, which then becomes WININIT.BAK, then
// the queue of registrations made through scheduleMoveAtRestart, which is
// emptied. tvprestart calls it once; tests call it directly.
#ifndef SRC_PLATFORM_POSIX_RESTART_SIMULATION_H_
#define SRC_PLATFORM_POSIX_RESTART_SIMULATION_H_

#include <string>
#include <vector>

namespace platform {
namespace posix {

// Carries out the deferred steps of `windowsDirectory`, appending one line to
// `report` per step done and per failure. Returns false when any step
// failed; the other steps are still carried out, as a restart would.
bool carryOutRestart(const std::string& windowsDirectory, std::vector<std::string>* report);

}  // namespace posix
}  // namespace platform

#endif  // SRC_PLATFORM_POSIX_RESTART_SIMULATION_H_
