#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "driver/reboot_program.h"
#include "driver/report_error.h"
#include "driver/startup.h"
#include "driver/teardown.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/system.h"
#include "profile/profile.h"

namespace {

constexpr const char* kVersion = "v2.00 Beta 6A";

// Reads the run settings of section "Patch" through a Profile of its own,
// which is dropped again unchanged: the engine opens the file once more.
void readPatchSettings(const std::string& profilePath, ConfigData* config, NLSClass* messages) {
  std::unique_ptr<Profile> profile = makeObject<Profile>(kModuleDriver, __LINE__, profilePath);
  std::string logPath = profile->getString("Patch", "LogFile", "");
  messages->openLog(logPath, profile->getInt("Patch", "AppendLog", 0));
  config->setForce(profile->getInt("Patch", "Force", 0));
  config->setBackup(profile->getInt("Patch", "Backup", 1));
  config->setRebootProgram(profile->getString("Patch", "Reboot Program", ""));
}

}  // namespace

int runInstaller(int argc, char** argv) {
  std::string programPath;
  if (!platform::getProgramPath(&programPath).ok) {
    programPath = (argc > 0 && argv[0] != nullptr) ? argv[0] : "";
  }
  std::vector<std::string> arguments;
  for (int index = 1; index < argc; ++index) arguments.push_back(argv[index]);

  // Declared outside the handler's reach so that a critical error leaves them
  // alone: the process ends from inside the handler, and nothing is written
  // back after a failure.
  std::unique_ptr<NLSClass> messages;
  std::unique_ptr<ConfigData> config;
  std::unique_ptr<DataFile> dataFile;
  try {
    std::string profilePath = pathSetExt(programPath, ".DAT");
    messages = makeObject<NLSClass>(kModuleDriver, __LINE__, pathSetExt(programPath, ".MSG"));
    if (messages->load() != 1) return 1;

    std::string windowsDirectory;
    std::string programDirectory = pathDriveDir(programPath);
    // The run configuration holds 259 characters; a longer directory would
    // be cut to the name of another one, where the patch must not go, or
    // whose files it must not install.
    if (!platform::getWindowsDirectory(&windowsDirectory).ok ||
        windowsDirectory.size() > ConfigData::kMaxText ||
        programDirectory.size() > ConfigData::kMaxText) {
      // The log is not open yet, so this goes to the console only.
      std::fprintf(stderr, "%c%s\n", kBel, messages->getMessage(28));
      return 1;
    }
    config = createConfigData(windowsDirectory);
    config->setProgramDir(programDirectory);
    applySwitches(arguments, config.get(), &profilePath);
    readPatchSettings(profilePath, config.get(), messages.get());

    messages->print("%s %s\n", messages->getMessage(3), kVersion);
    if (config->isDebug()) messages->print("Compiled: %s %s\n", __DATE__, __TIME__);

    dataFile =
        makeObject<DataFile>(kModuleDriver, __LINE__, profilePath, config.get(), messages.get());
    dataFile->processProfile();
  } catch (const Error& error) {
    reportError(error);
    std::exit(1);
  }

  messages->print("%s\n", messages->getMessage(7));
  bool startProgram = false;
  std::string rebootProgram;
  if (config->isRebootNeeded()) {
    rebootProgram = config->getRebootProgram();
    if (rebootProgram.empty()) {
      messages->print("%s\n", messages->getMessage(8));
    } else {
      startProgram = true;
    }
  }

  int exitCode = tearDown(dataFile, messages, config) ? 0 : 1;
  if (startProgram) {
    // The new process shares the console; what this one printed comes first.
    std::fflush(stdout);
    if (!startRebootProgram(rebootProgram)) {
      std::fprintf(stderr, "\n%cThe reboot program could not be started: %s\n", kBel,
                   rebootProgram.c_str());
      return 1;
    }
  }
  return exitCode;
}
