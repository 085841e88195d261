#include "driver/teardown.h"

#include "base/error.h"
#include "config/config_data.h"
#include "driver/report_error.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "profile/profile.h"

bool closeProfile(std::unique_ptr<Profile>& profile) {
  if (!profile) return true;
  bool written = true;
  // A destructor must not raise, so the last write happens here, where its
  // failure can still be reported and turned into the exit code.
  try {
    profile->close();
  } catch (const Error& error) {
    reportError(error);
    written = false;
  }
  profile.reset();
  return written;
}

bool tearDown(std::unique_ptr<DataFile>& dataFile, std::unique_ptr<NLSClass>& messages,
              TavroProfiles& profiles, std::unique_ptr<ConfigData>& config) {
  dataFile.reset();
  messages.reset();
  if (config) config->setWindowsIni(nullptr);
  bool written = closeProfile(profiles.windowsIni);
  if (config) config->setRootIni(nullptr);
  written = closeProfile(profiles.rootIni) && written;
  config.reset();
  return written;
}
