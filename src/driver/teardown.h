// The end of a normal run: the run's long-lived objects are destroyed in the
// one order the run relies on, so that the log is closed and both TAVRO.INI
// files are on disk before a reboot program is started.
#ifndef SRC_DRIVER_TEARDOWN_H_
#define SRC_DRIVER_TEARDOWN_H_

#include <memory>

#include "driver/startup.h"

class ConfigData;
class DataFile;
class NLSClass;
class Profile;

// Writes profile back when it was changed and destroys it. A failed write is
// reported on standard error as a critical error, without ending the run.
// False when the write failed; a null profile is nothing to do.
bool closeProfile(std::unique_ptr<Profile>& profile);

// Destroys the DataFile, the NLSClass (closing the log), the Windows
// directory's TAVRO.INI, the product root's TAVRO.INI and the ConfigData, in
// that order, each even when an earlier write failed. False when a profile
// could not be written back.
bool tearDown(std::unique_ptr<DataFile>& dataFile, std::unique_ptr<NLSClass>& messages,
              TavroProfiles& profiles, std::unique_ptr<ConfigData>& config);

#endif  // SRC_DRIVER_TEARDOWN_H_
