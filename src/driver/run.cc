#include "driver/run.h"

#include <cstdio>
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
#include "fileops/patch_seal.h"
#include "messages/message_numbers.h"
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

// A sealed patch is checked whole before anything on the machine changes,
// the log included. Returns false, after naming every file that is missing
// or differs, when the run must end. The catalogue's own text is used only
// when the catalogue is as sealed.
bool isPatchAsSealed(const std::string& profilePath, const std::string& programPath,
                     NLSClass* messages) {
  const std::string sealPath = PatchSeal::getPathFor(profilePath);
  PatchSeal seal;
  if (seal.read(sealPath).notFound) return true;
  std::vector<std::string> failed;
  bool catalogueTrusted = seal.isIntact();
  if (!seal.isIntact()) {
    failed.push_back(sealPath);
  } else {
    const std::string catalogueKey = pathNameKey(pathSetExt(programPath, ".MSG"));
    for (const PatchSeal::Mismatch& mismatch : seal.check(pathDriveDir(programPath), profilePath)) {
      failed.push_back(mismatch.path);
      if (pathNameKey(mismatch.path) == catalogueKey) catalogueTrusted = false;
    }
  }
  if (failed.empty()) return true;
  const char* text = catalogueTrusted ? messages->getMessage(kMessagePatchDamaged)
                                      : NLSClass::getBuiltInMessage(kMessagePatchDamaged);
  for (const std::string& path : failed) {
    messages->printTo(stderr, "%c%s: %s\n", kBel, text, path.c_str());
  }
  return false;
}

// The run's long-lived objects, in the order they are created; the teardown
// destroys them in its own order.
struct RunObjects {
  const RunWatch* watch = nullptr;
  std::unique_ptr<NLSClass> messages;
  TavroProfiles profiles;
  std::unique_ptr<ConfigData> config;
  std::unique_ptr<DataFile> dataFile;
};

// Leaves the run's objects as a run ended early leaves them: nothing is
// written back, not even by a destructor. They stay reachable until the
// process ends, and are never destroyed.
void abandon(RunObjects* run) {
  static std::vector<RunObjects*>* const abandoned = new std::vector<RunObjects*>();
  abandoned->push_back(new RunObjects(std::move(*run)));
}

// Everything up to the engine's processing: the catalogue, the run
// configuration, the switches, the settings and the banner. Returns false
// when the run must end with exit code 1 before it started. Raises Error.
bool startRun(const std::string& programPath, const std::vector<std::string>& arguments,
              RunObjects* run) {
  std::string profilePath = pathSetExt(programPath, ".DAT");
  run->messages = makeObject<NLSClass>(kModuleDriver, __LINE__, pathSetExt(programPath, ".MSG"));
  NLSClass* messages = run->messages.get();
  if (run->watch != nullptr) messages->setConsole(run->watch->console);
  if (messages->load() != 1) {
    // A sealed patch without its catalogue is a damaged patch, and is told
    // as one.
    isPatchAsSealed(profilePath, programPath, messages);
    return false;
  }

  std::string windowsDirectory;
  std::string programDirectory = pathDriveDir(programPath);
  // The run configuration holds 259 characters; a longer directory would
  // be cut to the name of another one, where the patch must not go, or
  // whose files it must not install.
  if (!platform::getWindowsDirectory(&windowsDirectory).ok ||
      windowsDirectory.size() > ConfigData::kMaxText ||
      programDirectory.size() > ConfigData::kMaxText) {
    // The log is not open yet, so this goes to the console only.
    messages->printTo(stderr, "%c%s\n", kBel, messages->getMessage(kMessageNoWindowsDirectory));
    return false;
  }
  run->config = createConfigData(windowsDirectory, &run->profiles);
  ConfigData* config = run->config.get();
  config->setProgramDir(programDirectory);
  applySwitches(arguments, config, &profilePath);
  // A removal needs no profile; the one beside the program is another
  // patch's, whose seal, log and reboot program are none of its business.
  if (config->getRemovePatch().empty()) {
    if (!isPatchAsSealed(profilePath, programPath, messages)) return false;
    readPatchSettings(profilePath, config, messages);
  }

  messages->print("%s %s\n", messages->getMessage(kMessageBanner), kVersion);
  if (config->isDebug()) messages->print("Compiled: %s %s\n", __DATE__, __TIME__);

  run->dataFile = makeObject<DataFile>(kModuleDriver, __LINE__, profilePath, config, messages);
  if (run->watch != nullptr) run->dataFile->setLineWatch(run->watch->line);
  return true;
}

// The end of a run that went through: the closing messages, the teardown and
// the reboot program. Returns the exit code.
int finishRun(RunObjects* run) {
  NLSClass* messages = run->messages.get();
  messages->print("%s\n", messages->getMessage(kMessageFinished));
  std::string rebootProgram;
  // The teardown destroys the run configuration; the reboot program may
  // stand beside the installer.
  const std::string programDirectory = run->config->getProgramDir();
  if (run->config->isRebootNeeded()) {
    rebootProgram = run->config->getRebootProgram();
    if (rebootProgram.empty()) messages->print("%s\n", messages->getMessage(kMessageRestartNeeded));
  }
  // The teardown closes the catalogue with the log; its text for a reboot
  // program that cannot be started is taken before.
  std::string startFailure = messages->getMessage(kMessageRebootProgramFailed);
  const RunWatch* watch = run->watch;

  // A run with a failed entry did its normal end, but is no success.
  const bool entriesDone = !run->dataFile->hasFailedEntries();
  int exitCode =
      tearDown(run->dataFile, run->messages, run->profiles, run->config) && entriesDone ? 0 : 1;
  if (!rebootProgram.empty()) {
    // The new process shares the console; what this one printed comes first.
    std::fflush(stdout);
    if (!startRebootProgram(rebootProgram, programDirectory)) {
      std::string text = "\n" + std::string(1, kBel) + startFailure + ": " + rebootProgram + "\n";
      if (watch != nullptr) {
        watch->console(text, true);
      } else {
        std::fputs(text.c_str(), stderr);
      }
      return 1;
    }
  }
  return exitCode;
}

}  // namespace

int runInstaller(int argc, char** argv) {
  std::string programPath;
  if (!platform::getProgramPath(&programPath).ok) {
    programPath = (argc > 0 && argv[0] != nullptr) ? argv[0] : "";
  }
  std::vector<std::string> arguments;
  for (int index = 1; index < argc; ++index) arguments.push_back(argv[index]);
  return runPatch(programPath, arguments);
}

int runPatch(const std::string& programPath, const std::vector<std::string>& arguments,
             const RunWatch* watch) {
  RunObjects run;
  run.watch = watch;
  try {
    if (!startRun(programPath, arguments, &run)) return 1;
    if (run.config->getRemovePatch().empty()) {
      run.dataFile->processProfile();
    } else {
      run.dataFile->removePatch(run.config->getRemovePatch());
    }
  } catch (const Error& error) {
    if (error.getErrorNumber() != kErrorRunEnded) {
      if (watch != nullptr) {
        watch->console(formatErrorReport(error), true);
      } else {
        reportError(error);
      }
    }
    abandon(&run);
    std::fflush(stdout);
    return 1;
  }
  return finishRun(&run);
}
