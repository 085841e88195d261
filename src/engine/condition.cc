#include "engine/data_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

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

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Text order without regard to ASCII case; not numeric, so "10" < "9".
int compareNoCase(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  for (; i < a.size() && i < b.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(lowerAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(lowerAscii(b[i]));
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

bool beginsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || lowerAscii(*text) != lowerAscii(*prefix)) {
      return false;
    }
  }
  return true;
}

bool equalsNoCase(const char* a, const char* b) {
  return beginsWithNoCase(a, b) && std::strlen(a) == std::strlen(b);
}

// The root key a condition's fourth field names: its first four characters
// are HKLM, HKCU or HKCR, or it is exactly HKU. False for an INI section.
bool findConditionRoot(const char* field, platform::RegistryRoot* root) {
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

// A field kept beyond the next call of the splitter.
struct Field {
  bool present = false;
  std::string text;

  void take(const char* field) {
    present = field != nullptr;
    text = present ? field : "";
  }
  bool isEmpty() const { return !present || text.empty(); }
  const char* shown() const { return orNull(present ? text.c_str() : nullptr); }
};

}  // namespace

bool DataFile::testCondition(std::string& line) {
  Field branch, os, force, fourth, path, key, start, end;
  nextField(line.c_str(), "=");
  branch.take(nextField(nullptr, ","));
  os.take(nextField(nullptr, ","));
  force.take(nextField(nullptr, ","));
  fourth.take(nextField(nullptr, ","));
  platform::RegistryRoot root = platform::RegistryRoot::kLocalMachine;
  bool isRegistry = fourth.present && findConditionRoot(fourth.text.c_str(), &root);
  if (isRegistry) {
    path.take(nextField(nullptr, ","));
  }
  key.take(nextField(nullptr, ","));
  start.take(nextField(nullptr, ","));
  end.take(nextField(nullptr, ","));

  bool tracing = config->isDebug();
  if (tracing) {
    messages->print(isRegistry ? "Testing Registry Condition\n" : "Testing Condition\n");
    messages->print("\tbranch : %s\n", branch.shown());
    messages->print("\tOS     : %s\n", os.shown());
    messages->print("\tforce  : %s\n", force.shown());
    messages->print("\tsection: %s\n", fourth.shown());
    if (isRegistry) {
      messages->print("\tpath   : %s\n", path.shown());
    }
    messages->print("\tkey    : %s\n", key.shown());
    messages->print("\trange s: %s\n", start.shown());
    messages->print("\trange e: %s\n", end.shown());
  }

  if (fourth.isEmpty() || os.isEmpty() || (!isRegistry && key.isEmpty())) {
    return false;
  }
  line = branch.text;

  int mode = kModeAtOrAfter;
  if (!force.isEmpty() && readNumber(force.text.c_str(), &mode)) {
    if (mode < kModeAny || mode > kModeBetween) {
      mode = kModeAtOrAfter;
    }
  } else {
    mode = kModeAtOrAfter;
  }
  int osNumber = 0;
  bool osIsNumber = readNumber(os.text.c_str(), &osNumber);
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
    const char* subkeyPath = path.isEmpty() ? nullptr : path.text.c_str();
    const char* subkeyName = key.isEmpty() ? nullptr : key.text.c_str();
    platform::RegistryKey opened;
    if (!platform::openRegistryKey(platform::getRootKey(root), subkeyPath,
                                   platform::RegistryAccess::kRead, &opened)
             .ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19),
                        fourth.text.c_str(), orNull(subkeyPath));
      return false;
    }
    platform::Status read =
        platform::queryRegistryDefaultValue(opened, subkeyName, kRegistryValueCapacity, &value);
    platform::closeRegistryKey(opened);
    if (!read.ok) {
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\\%s\n", kBel, messages->getMessage(27),
                        fourth.text.c_str(), orNull(subkeyPath), orNull(subkeyName));
      return false;
    }
  } else {
    value = config->getRootIni()->getString(fourth.text, key.text, "");
  }

  if (value.empty()) {
    return false;
  }
  trimBlanks(value);
  if (tracing) {
    messages->print("\tTest Val: %s\n", value.c_str());
  }
  if (start.isEmpty()) {
    return false;
  }
  trimBlanks(start.text);
  int toStart = compareNoCase(value, start.text);
  // Without an end (absent, or nothing but blanks) a range is open upwards:
  // the value need only be at or after its start.
  bool hasEnd = false;
  int toEnd = 0;
  if (end.present && !start.text.empty()) {
    trimBlanks(end.text);
    hasEnd = !end.text.empty();
    toEnd = compareNoCase(value, end.text);
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
