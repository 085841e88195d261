#include "engine/data_file.h"

#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "engine/entry_rules.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"
#include "path/path_name.h"

namespace {

// Registry key names are at most 255 characters; the enumeration buffer
// holds that and the terminator, so every valid subkey can be deleted.
constexpr std::size_t kSubkeyNameCapacity = 256;

}  // namespace

bool DataFile::processRegistry(const std::string& line) {
  bool tracing = config->isDebug();
  if (tracing) {
    messages->print("Entered processRegistry\n");
  }
  std::vector<EntryField> fields = splitEntryFields(line, 4);
  const EntryField& section = fields[0];
  EntryField& path = fields[1];
  EntryField& key = fields[2];
  EntryField& value = fields[3];

  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());
  if (value) {
    substitutes.substituteLine(*value);
  }
  if (tracing) {
    messages->print("\tsection: %s\n", orNull(fieldText(section)));
    messages->print("\tpath:    %s\n", orNull(fieldText(path)));
    messages->print("\tkey:     %s\n", orNull(fieldText(key)));
    messages->print("\tvalue:   %s\n", orNull(fieldText(value)));
  }
  if (!isFilled(section)) {
    printErrorLine(18);
    return false;
  }
  if (!isFilled(path)) {
    path.reset();
  }
  if (!isFilled(key)) {
    key.reset();
  }
  platform::RegistryRoot rootName;
  if (!findEntryRoot(*section, &rootName)) {
    printErrorLine(18);
    return false;
  }
  RegistryAction action = registryActionOf(path, key, value);
  if (action == RegistryAction::kRefused) {
    printErrorLine(18);
    return false;
  }
  // The detail of most failures names the key and the value.
  auto reportKeyFailure = [&](int message) {
    messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(message),
                      orNull(fieldText(path)), orNull(fieldText(key)));
  };
  platform::RegistryKey root = platform::getRootKey(rootName);
  platform::RegistryKey opened;

  if (action == RegistryAction::kSetValue) {
    if (tracing) {
      messages->print("Creating/Changing a registry key\n");
    }
    if (!platform::createRegistryKey(root, fieldText(path), &opened).ok) {
      reportKeyFailure(21);
      return false;
    }
    if (!platform::setRegistryString(opened, fieldText(key), *value).ok) {
      platform::closeRegistryKey(opened);
      reportKeyFailure(24);
      return false;
    }
    platform::closeRegistryKey(opened);
    return true;
  }

  if (action == RegistryAction::kDeleteValue) {
    if (tracing) {
      messages->print("Deleting a registry value\n");
    }
    if (!platform::openRegistryKey(root, fieldText(path), platform::RegistryAccess::kAllAccess,
                                   &opened)
             .ok) {
      reportKeyFailure(19);
      return false;
    }
    if (!platform::deleteRegistryValue(opened, fieldText(key)).ok) {
      platform::closeRegistryKey(opened);
      reportKeyFailure(25);
      return false;
    }
    platform::closeRegistryKey(opened);
    return true;
  }

  if (!platform::openRegistryKey(root, fieldText(path), platform::RegistryAccess::kAllAccess,
                                 &opened)
           .ok) {
    reportKeyFailure(19);
    return false;
  }
  if (tracing) {
    messages->print("Deleting a registry subtree\n");
  }
  if (!deleteRegistryTree(opened, *path)) {
    platform::closeRegistryKey(opened);
    return false;
  }
  if (!platform::deleteRegistryKey(opened, "").ok) {
    platform::closeRegistryKey(opened);
    messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBel, messages->getMessage(22), path->c_str());
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
    std::string subkeyPath = pathJoin(path, name);
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
