#include "engine/entry_rules.h"

#include "base/ascii_text.h"
#include "base/decimal_number.h"

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
