#include "engine/data_file.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config/ascii_text.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "messages/nls_class.h"
#include "platform/registry.h"
#include "profile/profile.h"

namespace {

// The mode of the force field: how the value found compares with the range.
constexpr int kModeAny = 0;
constexpr int kModeEqual = 1;
constexpr int kModeAtOrAfter = 2;
constexpr int kModeAtOrBefore = 3;
constexpr int kModeBetween = 4;

// RegQueryValueA is given this many bytes, terminator included.
constexpr std::size_t kRegistryValueCapacity = 256;

// The root key a condition's fourth field names: its first four characters
// are HKLM, HKCU or HKCR, or it is exactly HKU. False for an INI section.
bool findConditionRoot(const std::string& field, platform::RegistryRoot* root) {
  if (beginsWithNoCase(field, "HKLM")) {
    *root = platform::RegistryRoot::kLocalMachine;
  } else if (beginsWithNoCase(field, "HKCU")) {
    *root = platform::RegistryRoot::kCurrentUser;
  } else if (beginsWithNoCase(field, "HKCR")) {
    *root = platform::RegistryRoot::kClassesRoot;
  } else if (equalsNoCase(field, "HKU")) {
    *root = platform::RegistryRoot::kUsers;
  } else {
    return false;
  }
  return true;
}

// Reads a decimal number the way atoi does (blanks, a sign, digits); false
// when the text holds no number at all.
bool readNumber(const char* text, int* number) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text) {
    return false;
  }
  *number = static_cast<int>(value);
  return true;
}

}  // namespace

bool DataFile::testCondition(std::string& line) {
  // The registry form has one field more, the key's path, after the fourth.
  std::vector<EntryField> fields = splitEntryFields(line, 8);
  const EntryField& branch = fields[0];
  const EntryField& os = fields[1];
  const EntryField& force = fields[2];
  const EntryField& fourth = fields[3];
  platform::RegistryRoot root = platform::RegistryRoot::kLocalMachine;
  bool isRegistry = fourth && findConditionRoot(*fourth, &root);
  std::size_t next = isRegistry ? 5 : 4;
  EntryField path = isRegistry ? fields[4] : std::nullopt;
  const EntryField& key = fields[next];
  EntryField start = fields[next + 1];
  EntryField end = fields[next + 2];

  bool tracing = config->isDebug();
  if (tracing) {
    messages->print(isRegistry ? "Testing Registry Condition\n" : "Testing Condition\n");
    messages->print("\tbranch : %s\n", orNull(fieldText(branch)));
    messages->print("\tOS     : %s\n", orNull(fieldText(os)));
    messages->print("\tforce  : %s\n", orNull(fieldText(force)));
    messages->print("\tsection: %s\n", orNull(fieldText(fourth)));
    if (isRegistry) {
      messages->print("\tpath   : %s\n", orNull(fieldText(path)));
    }
    messages->print("\tkey    : %s\n", orNull(fieldText(key)));
    messages->print("\trange s: %s\n", orNull(fieldText(start)));
    messages->print("\trange e: %s\n", orNull(fieldText(end)));
  }

  if (!isFilled(fourth) || !isFilled(os) || (!isRegistry && !isFilled(key))) {
    return false;
  }
  line = *branch;

  int mode = kModeAtOrAfter;
  if (!!isFilled(force) && readNumber(force->c_str(), &mode)) {
    if (mode < kModeAny || mode > kModeBetween) {
      mode = kModeAtOrAfter;
    }
  } else {
    mode = kModeAtOrAfter;
  }
  int osNumber = 0;
  bool osIsNumber = readNumber(os->c_str(), &osNumber);
  if (tracing) {
    messages->print("Testing OS\n");
    messages->print("\tDatafile:  %d\n", osNumber);
    messages->print("\tDetection: %d\n", config->getPlatform());
  }
  if (!osIsNumber || config->getPlatform() != osNumber) {
    return false;
  }
  if (tracing) {
    messages->print("Testing Condition\n");
  }

  std::string value;
  if (isRegistry) {
    const char* subkeyPath = isFilled(path) ? path->c_str() : nullptr;
    const char* subkeyName = isFilled(key) ? key->c_str() : nullptr;
    platform::RegistryKey opened;
    if (!platform::openRegistryKey(platform::getRootKey(root), subkeyPath,
                                   platform::RegistryAccess::kRead, &opened)
             .ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19),
                        fourth->c_str(), orNull(subkeyPath));
      return false;
    }
    platform::Status read =
        platform::queryRegistryDefaultValue(opened, subkeyName, kRegistryValueCapacity, &value);
    platform::closeRegistryKey(opened);
    if (!read.ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\\%s\n", kBel, messages->getMessage(27),
                        fourth->c_str(), orNull(subkeyPath), orNull(subkeyName));
      return false;
    }
  } else {
    value = config->getRootIni()->getString(*fourth, *key, "");
  }

  if (value.empty()) {
    return false;
  }
  trimBlanks(value);
  if (tracing) {
    messages->print("\tTest Val: %s\n", value.c_str());
  }
  if (!isFilled(start)) {
    return false;
  }
  trimBlanks(*start);
  int toStart = compareNoCase(value, *start);
  // Without an end (absent, or nothing but blanks) a range is open upwards:
  // the value need only be at or after its start.
  bool hasEnd = false;
  int toEnd = 0;
  if (end && !start->empty()) {
    trimBlanks(*end);
    hasEnd = !end->empty();
    toEnd = compareNoCase(value, *end);
  }
  switch (mode) {
    case kModeAny:
      return true;
    case kModeEqual:
      return toStart == 0;
    case kModeAtOrBefore:
      return toStart <= 0;
    case kModeBetween:
      return toStart >= 0 && (!hasEnd || toEnd <= 0);
    default:
      return toStart >= 0;
  }
}
