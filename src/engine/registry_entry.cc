#include "engine/data_file.h"

#include <string>

#include "config/config_data.h"
#include "engine/entry_line.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"

namespace {

// Registry key names are at most 255 characters; the enumeration buffer
// holds that and the terminator, so every valid subkey can be deleted.
constexpr std::size_t kSubkeyNameCapacity = 256;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// The root key a REG entry's first field names, compared as a whole.
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

// A field kept beyond the next call of the splitter.
struct Field {
  bool present = false;
  std::string text;

  void take(const char* field) {
    present = field != nullptr;
    text = present ? field : "";
  }
  const char* get() const { return present ? text.c_str() : nullptr; }
};

}  // namespace

bool DataFile::processRegistry(const std::string& line) {
  bool tracing = config->isDebug();
  if (tracing) {
    messages->print("Entered processRegistry\n");
  }
  Field section, path, key, value;
  nextField(line.c_str(), "=");
  section.take(nextField(nullptr, ","));
  path.take(nextField(nullptr, ","));
  key.take(nextField(nullptr, ","));
  value.take(nextField(nullptr, ","));

  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());
  if (value.present) {
    substitutes.substituteLine(value.text);
  }
  if (tracing) {
    messages->print("\tsection: %s\n", orNull(section.get()));
    messages->print("\tpath:    %s\n", orNull(path.get()));
    messages->print("\tkey:     %s\n", orNull(key.get()));
    messages->print("\tvalue:   %s\n", orNull(value.get()));
  }
  if (!section.present || section.text.empty()) {
    printErrorLine(18);
    return false;
  }
  if (path.present && path.text.empty()) {
    path.present = false;
  }
  if (key.present && key.text.empty()) {
    key.present = false;
  }
  platform::RegistryRoot rootName;
  if (!findEntryRoot(section.text, &rootName)) {
    printErrorLine(18);
    return false;
  }
  // With neither a path nor a value name the entry would delete everything
  // below the root key itself.
  if (!path.present && !key.present) {
    printErrorLine(18);
    return false;
  }
  platform::RegistryKey root = platform::getRootKey(rootName);
  platform::RegistryKey opened;

  if (value.present) {
    if (tracing) {
      messages->print("Creating/Changing a registry key\n");
    }
    if (!platform::createRegistryKey(root, path.get(), &opened).ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(21),
                        orNull(path.get()), orNull(key.get()));
      return false;
    }
    if (!platform::setRegistryString(opened, key.get(), value.text).ok) {
      platform::closeRegistryKey(opened);
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(24),
                        orNull(path.get()), orNull(key.get()));
      return false;
    }
    platform::closeRegistryKey(opened);
    return true;
  }

  if (key.present) {
    if (tracing) {
      messages->print("Deleting a registry value\n");
    }
    if (!platform::openRegistryKey(root, path.get(), platform::RegistryAccess::kAllAccess, &opened)
             .ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19),
                        orNull(path.get()), orNull(key.get()));
      return false;
    }
    if (!platform::deleteRegistryValue(opened, key.get()).ok) {
      platform::closeRegistryKey(opened);
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(25),
                        orNull(path.get()), orNull(key.get()));
      return false;
    }
    platform::closeRegistryKey(opened);
    return true;
  }

  if (!platform::openRegistryKey(root, path.get(), platform::RegistryAccess::kAllAccess, &opened)
           .ok) {
    messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19),
                      orNull(path.get()), orNull(key.get()));
    return false;
  }
  if (tracing) {
    messages->print("Deleting a registry subtree\n");
  }
  if (!deleteRegistryTree(opened, path.text)) {
    platform::closeRegistryKey(opened);
    return false;
  }
  if (!platform::deleteRegistryKey(opened, "").ok) {
    platform::closeRegistryKey(opened);
    messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(22), path.text.c_str());
    return false;
  }
  platform::closeRegistryKey(opened);
  return true;
}

bool DataFile::deleteRegistryTree(platform::RegistryKey key, const std::string& path) {
  unsigned long count = 0;
  if (!platform::countRegistrySubkeys(key, &count).ok) {
    messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(26), path.c_str());
    return false;
  }
  for (;;) {
    // Each deleted subkey leaves the list, so index 0 is always the next one
    // still present; a rising index would skip every other subkey.
    std::string name;
    platform::Status listed = platform::enumerateRegistrySubkey(key, 0, kSubkeyNameCapacity, &name);
    if (!listed.ok) {
      if (listed.notFound) {
        return true;
      }
      messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(23), path.c_str());
      return false;
    }
    platform::RegistryKey subkey;
    if (!platform::openRegistryKey(key, name.c_str(), platform::RegistryAccess::kAllAccess, &subkey)
             .ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19), path.c_str(),
                        name.c_str());
      return false;
    }
    std::string subkeyPath = path;
    if (subkeyPath.empty() || subkeyPath.back() != '\\') {
      subkeyPath += '\\';
    }
    subkeyPath += name;
    unsigned long subkeyCount = 0;
    if (!platform::countRegistrySubkeys(subkey, &subkeyCount).ok) {
      platform::closeRegistryKey(subkey);
      messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(26),
                        subkeyPath.c_str());
      return false;
    }
    if (subkeyCount > 0) {
      // What is left below makes the deletion of the subkey fail and report.
      deleteRegistryTree(subkey, subkeyPath);
    }
    if (!platform::deleteRegistryKey(subkey, "").ok) {
      platform::closeRegistryKey(subkey);
      messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(22),
                        subkeyPath.c_str());
      return false;
    }
    platform::closeRegistryKey(subkey);
  }
}
