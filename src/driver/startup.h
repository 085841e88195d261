// The start of a run that the run driver performs before the engine takes
// over: the run configuration built from the Windows directory, the kind of
// Windows running, and the command-line switches. The ConfigData and the two
// TAVRO.INI profiles it refers to belong to the run driver, which destroys
// them in its teardown.
#ifndef SRC_DRIVER_STARTUP_H_
#define SRC_DRIVER_STARTUP_H_

#include <memory>
#include <string>
#include <vector>

class ConfigData;
class Profile;

// The two TAVRO.INI files of a run, owned by the run driver from start-up to
// teardown; the ConfigData only refers to them.
struct TavroProfiles {
  std::unique_ptr<Profile> windowsIni;
  std::unique_ptr<Profile> rootIni;
};

// The platform code for a version number in the form GetVersion returns it:
// 2 (Windows NT) when bit 31 is clear, otherwise 4 (Win32s) when the low byte
// is below 4, otherwise 1 (the Windows 95 family).
int platformFromVersion(unsigned long version);

// The platform code of the running system.
int detectPlatform();

// A new ConfigData for the Windows directory: opens its TAVRO.INI, learns the
// product root and the interactive setting from it, opens the product root's
// TAVRO.INI and sets the platform code. The two profiles go to *profiles,
// which must outlive the ConfigData. Missing files give empty profiles.
// Raises Error 1 when an object cannot be allocated.
std::unique_ptr<ConfigData> createConfigData(const std::string& windowsDirectory,
                                             TavroProfiles* profiles);

// Walks the arguments after the program name: an argument whose first letter
// is i sets interactive; one whose second letter is d sets debug; one whose
// second letter is p names the profile, by its remaining text or, when it is
// two characters long, by the next argument, which is then skipped; one
// whose second letter is r names, the same way, an installed patch to take
// off again. Letters compare without regard to case. A p with nothing after
// it leaves profilePath as it was.
void applySwitches(const std::vector<std::string>& arguments, ConfigData* config,
                   std::string* profilePath);

#endif  // SRC_DRIVER_STARTUP_H_
