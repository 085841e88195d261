#include "engine/entry_rules.h"

#include <string>

#include "base/ascii_text.h"
#include "base/decimal_number.h"
#include "config/config_data.h"
#include "profile/profile.h"

BaseDirectory baseDirectoryOf(const char* component) {
  if (component == nullptr) return BaseDirectory::kNone;
  if (equalsNoCase(component, "WINDOWS")) return BaseDirectory::kWindows;
  if (equalsNoCase(component, "TAVRO")) return BaseDirectory::kTavro;
  return BaseDirectory::kNone;
}

int optionValueOf(const char* field, int defaultValue) {
  if (field == nullptr) {
    return defaultValue;
  }
  int value = defaultValue;
  readDecimalNumber(field, &value);
  return value;
}

bool isOptionNumber(const std::string& field) {
  int value = 0;
  return readDecimalNumber(field.c_str(), &value);
}

bool findEntryRoot(const std::string& field, platform::RegistryRoot* root) {
  if (equalsNoCase(field, "HKLM")) {
    *root = platform::RegistryRoot::kLocalMachine;
  } else if (equalsNoCase(field, "HKCU")) {
    *root = platform::RegistryRoot::kCurrentUser;
  } else if (equalsNoCase(field, "HKCR")) {
    *root = platform::RegistryRoot::kClassesRoot;
  } else if (equalsNoCase(field, "HKU")) {
    *root = platform::RegistryRoot::kUsers;
  } else {
    return false;
  }
  return true;
}

RegistryAction registryActionOf(const EntryField& path, const EntryField& name,
                                const EntryField& value) {
  bool hasPath = isFilled(path);
  bool hasName = isFilled(name);
  if (!hasPath && !hasName) return RegistryAction::kRefused;
  if (value) return RegistryAction::kSetValue;
  if (hasName) return RegistryAction::kDeleteValue;
  return RegistryAction::kDeleteTree;
}

bool baseDirectoryPath(const char* component, const ConfigData& config, std::string* directory) {
  switch (baseDirectoryOf(component)) {
    case BaseDirectory::kWindows:
      *directory = config.getWindowsDir();
      return true;
    case BaseDirectory::kTavro:
      *directory = config.getRootDir();
      return true;
    case BaseDirectory::kNone:
      break;
  }
  return false;
}

void forEachEntryLine(const Profile& profile, std::size_t header,
                      const std::function<void(std::size_t, const std::string&)>& visit) {
  for (std::size_t position = header + 1;
       position < profile.lineCount() && !Profile::isSectionHeader(profile.line(position));
       ++position) {
    std::string line = profile.line(position);
    trimBlanks(line);
    if (!line.empty() && !isCommentEntry(line)) visit(position, line);
  }
}
