// ConfigData carries the directories, switches and settings of one run from
// the run driver to every other subsystem. The run driver creates it at
// start-up (createConfigData), completes it from the command line and the
// installation profile, and destroys it last. It refers to the two TAVRO.INI
// profiles without owning them: the run driver owns them (TavroProfiles) and
// destroys them first. Likewise it refers to the run's journal, which the
// engine owns while it carries out the profile.
#ifndef SRC_CONFIG_CONFIG_DATA_H_
#define SRC_CONFIG_CONFIG_DATA_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class Profile;
class RunJournal;

// Kinds of Windows, as detectPlatform reports them.
constexpr int kPlatformWindows95 = 1;
constexpr int kPlatformWindowsNt = 2;
constexpr int kPlatformWin32s = 4;

// The kind's name as messages show it ("the Windows 95 family").
const char* platformNameOf(int platform);

class ConfigData {
 public:
  // Text fields keep at most this many characters; a longer value is cut.
  static constexpr std::size_t kMaxText = 259;

  ConfigData();

  Profile* getRootIni() const { return rootIni; }
  void setRootIni(Profile* profile) { rootIni = profile; }
  Profile* getWindowsIni() const { return windowsIni; }
  void setWindowsIni(Profile* profile) { windowsIni = profile; }
  // The journal the file operations record their steps in; null when the
  // run keeps none (tools, tests).
  RunJournal* getJournal() const { return journal; }
  void setJournal(RunJournal* value) { journal = value; }

  const std::string& getProgramDir() const { return programDir; }
  void setProgramDir(const std::string& text);
  const std::string& getRootDir() const { return rootDir; }
  void setRootDir(const std::string& text);
  const std::string& getWindowsDir() const { return windowsDir; }
  void setWindowsDir(const std::string& text);
  const std::string& getRebootProgram() const { return rebootProgram; }
  void setRebootProgram(const std::string& text);

  // Flags count as set only when they are exactly 1.
  int getInteractive() const { return interactive; }
  void setInteractive(int value) { interactive = value; }
  bool isInteractive() const { return interactive == 1; }
  int getPlatform() const { return platform; }
  void setPlatform(int value) { platform = value; }
  int getRebootNeeded() const { return rebootNeeded; }
  void setRebootNeeded(int value) { rebootNeeded = value; }
  bool isRebootNeeded() const { return rebootNeeded == 1; }
  int getDebug() const { return debug; }
  void setDebug(int value) { debug = value; }
  bool isDebug() const { return debug == 1; }
  int getDeferred() const { return deferred; }
  void setDeferred(int value) { deferred = value; }
  bool isDeferred() const { return deferred == 1; }
  // Names that a step put off to the restart will change: every later step
  // on one of them must wait for the restart too, or the restart would undo
  // it. Names compare without regard to case.
  void addAwaitingRestart(const std::string& path);
  bool isAwaitingRestart(const std::string& path) const;
  // Files that the restart will put in place under their 8.3 alias alone
  // (WININIT.EXE knows no long names), each as "PATH (ALIAS)", for the
  // engine to report; takeLosingLongNames hands them over and forgets them.
  void addLosingLongName(const std::string& path) { losingLongNames.push_back(path); }
  std::vector<std::string> takeLosingLongNames() { return std::move(losingLongNames); }
  // The installed patch a run takes off again ("/r PATCH"); empty for a run
  // that installs.
  const std::string& getRemovePatch() const { return removePatch; }
  void setRemovePatch(const std::string& patch) { removePatch = patch; }
  int getForce() const { return force; }
  void setForce(int value) { force = value; }
  bool isForce() const { return force == 1; }
  int getBackup() const { return backup; }
  void setBackup(int value) { backup = value; }
  bool isBackup() const { return backup == 1; }

 private:
  Profile* rootIni;
  Profile* windowsIni;
  RunJournal* journal;
  std::string programDir;
  std::string rootDir;
  std::string windowsDir;
  std::string rebootProgram;
  std::vector<std::string> awaitingRestart;
  std::vector<std::string> losingLongNames;
  std::string removePatch;
  int interactive;
  int platform;
  int rebootNeeded;
  int debug;
  int deferred;
  int force;
  int backup;
};

#endif  // SRC_CONFIG_CONFIG_DATA_H_
