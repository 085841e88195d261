#include "driver/teardown.h"

#include "base/error.h"
#include "config/config_data.h"
#include "driver/report_error.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "profile/profile.h"

bool closeProfile(Profile* profile) {
  if (profile == nullptr) return true;
  bool written = true;
  // A destructor must not raise, so the last write happens here, where its
  // failure can still be reported and turned into the exit code.
  try {
    profile->close();
  } catch (const Error& error) {
    reportError(error);
    written = false;
  }
  delete profile;
  return written;
}

bool tearDown(std::unique_ptr<DataFile>& dataFile, std::unique_ptr<NLSClass>& messages,
              std::unique_ptr<ConfigData>& config) {
  dataFile.reset();
  messages.reset();
  if (!config) return true;
  bool written = closeProfile(config->getWindowsIni());
  config->setWindowsIni(nullptr);
  written = closeProfile(config->getRootIni()) && written;
  config->setRootIni(nullptr);
  config.reset();
  return written;
}
