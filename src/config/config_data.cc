#include "config/config_data.h"

#include "base/ascii_text.h"

namespace {

// These texts are held to what a buffer of 260 characters, the longest
// Windows path and its terminator, takes.
std::string cut(const std::string& text) { return text.substr(0, ConfigData::kMaxText); }

}  // namespace

const char* platformNameOf(int platform) {
  switch (platform) {
    case kPlatformWindows95:
      return "the Windows 95 family";
    case kPlatformWindowsNt:
      return "Windows NT";
    case kPlatformWin32s:
      return "Win32s";
    default:
      return "an unknown kind of Windows";
  }
}

ConfigData::ConfigData()
    : rootIni(nullptr),
      windowsIni(nullptr),
      journal(nullptr),
      programDir(),
      rootDir(),
      windowsDir(),
      rebootProgram(),
      awaitingRestart(),
      losingLongNames(),
      removePatch(),
      interactive(0),
      platform(0),
      rebootNeeded(0),
      debug(0),
      deferred(0),
      force(0),
      backup(1) {}

void ConfigData::setProgramDir(const std::string& text) { programDir = cut(text); }
void ConfigData::setRootDir(const std::string& text) { rootDir = cut(text); }
void ConfigData::setWindowsDir(const std::string& text) { windowsDir = cut(text); }
void ConfigData::setRebootProgram(const std::string& text) { rebootProgram = cut(text); }

void ConfigData::addAwaitingRestart(const std::string& path) {
  if (!isAwaitingRestart(path)) awaitingRestart.push_back(path);
}

bool ConfigData::isAwaitingRestart(const std::string& path) const {
  for (const std::string& waiting : awaitingRestart) {
    if (equalsNoCase(waiting, path)) return true;
  }
  return false;
}
