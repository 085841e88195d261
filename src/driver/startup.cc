#include "driver/startup.h"

#include <cctype>

#include "base/error.h"
#include "config/config_data.h"
#include "path/path_name.h"
#include "platform/system.h"
#include "profile/profile.h"

namespace {

bool isLetter(const std::string& argument, std::size_t position, char lower) {
  return argument.size() > position &&
         std::tolower(static_cast<unsigned char>(argument[position])) == lower;
}

}  // namespace

int platformFromVersion(unsigned long version) {
  // GetVersion sets bit 31 on everything that is not NT; Win32s reports the
  // major version of the Windows 3.x underneath it, so below 4.
  if ((version & 0x80000000UL) == 0) return kPlatformWindowsNt;
  if ((version & 0xFFUL) < 4) return kPlatformWin32s;
  return kPlatformWindows95;
}

int detectPlatform() { return platformFromVersion(platform::getVersionNumber()); }

std::unique_ptr<ConfigData> createConfigData(const std::string& windowsDirectory,
                                             TavroProfiles* profiles) {
  std::unique_ptr<ConfigData> config = makeObject<ConfigData>(kModuleDriver, __LINE__);
  profiles->windowsIni =
      makeObject<Profile>(kModuleDriver, __LINE__, pathJoin(windowsDirectory, "TAVRO.INI"));
  Profile* windowsIni = profiles->windowsIni.get();
  config->setPlatform(detectPlatform());
  config->setWindowsIni(windowsIni);
  config->setRootDir(windowsIni->getString("Tavro", "root", ""));
  config->setWindowsDir(windowsDirectory);
  config->setInteractive(windowsIni->getInt("Patch", "Interactive", 1));
  // An empty root gives "\TAVRO.INI", the file in the root of the current
  // drive, as the product has always looked for it.
  profiles->rootIni =
      makeObject<Profile>(kModuleDriver, __LINE__, pathJoin(config->getRootDir(), "TAVRO.INI"));
  config->setRootIni(profiles->rootIni.get());
  return config;
}

void applySwitches(const std::vector<std::string>& arguments, ConfigData* config,
                   std::string* profilePath) {
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    // The rows are tested one after the other, so "id" or "ip" match twice.
    if (isLetter(argument, 0, 'i')) config->setInteractive(1);
    if (isLetter(argument, 1, 'd')) config->setDebug(1);
    if (isLetter(argument, 1, 'p')) {
      if (argument.size() > 2) {
        *profilePath = argument.substr(2);
      } else if (index + 1 < arguments.size()) {
        ++index;
        *profilePath = arguments[index];
      }
    }
    if (isLetter(argument, 1, 'r')) {
      if (argument.size() > 2) {
        config->setRemovePatch(argument.substr(2));
      } else if (index + 1 < arguments.size()) {
        ++index;
        config->setRemovePatch(arguments[index]);
      }
    }
  }
}
