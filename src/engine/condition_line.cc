#include "engine/condition_line.h"

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/decimal_number.h"
#include "engine/entry_rules.h"
#include "engine/registry_key_holder.h"
#include "profile/profile.h"

namespace {

// RegQueryValueA is given this many bytes, terminator included.
constexpr std::size_t kRegistryValueCapacity = 256;

}  // namespace

bool conditionGroupOf(const std::string& line, int* group) {
  const std::string stem = "Condition";
  if (!beginsWithNoCase(line, stem)) return false;
  std::size_t start = stem.size();
  std::size_t end = start;
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
  if (end == start || end == line.size() || line[end] != '=') return false;
  std::string digits = line.substr(start, end - start);
  if (digits.size() > 1 && digits[0] == '0') return false;
  if (digits.size() > std::to_string(INT_MAX).size()) return false;
  long long number = std::stoll(digits);
  if (number > INT_MAX) return false;
  *group = static_cast<int>(number);
  return true;
}

std::map<int, std::vector<std::size_t>> conditionGroupsOf(const Profile& profile) {
  std::map<int, std::vector<std::size_t>> groups;
  std::size_t header = profile.findSection("Patch");
  if (header == Profile::kNoLine) return groups;
  for (std::size_t position = header + 1;
       position < profile.lineCount() && !Profile::isSectionHeader(profile.line(position));
       ++position) {
    int group = 0;
    if (conditionGroupOf(profile.line(position), &group)) groups[group].push_back(position);
  }
  return groups;
}

ConditionLine parseConditionLine(const std::string& line) {
  // The registry form has one field more, the key's path, after the fourth.
  std::vector<EntryField> fields = splitEntryFields(line, 8);
  ConditionLine condition;
  for (const EntryField& field : fields) {
    if (field) ++condition.fieldCount;
  }
  condition.branch = fields[0];
  condition.os = fields[1];
  condition.mode = fields[2];
  condition.fourth = fields[3];
  condition.isRegistry = fields[3] && findConditionRoot(*fields[3], &condition.root);
  std::size_t next = condition.isRegistry ? 5 : 4;
  if (condition.isRegistry) condition.path = fields[4];
  condition.key = fields[next];
  condition.start = fields[next + 1];
  condition.end = fields[next + 2];
  return condition;
}

bool findConditionRoot(const std::string& field, platform::RegistryRoot* root) {
  // Only the first four characters count: "HKLMX" is HKLM, but "HKUX" is no
  // root, since HKU is a whole name of three.
  return findEntryRoot(field.substr(0, 4), root);
}

int conditionModeOf(const EntryField& mode) {
  int number = kConditionModeAtOrAfter;
  if (!isFilled(mode) || !readDecimalNumber(mode->c_str(), &number) || number < kConditionModeAny ||
      number > kConditionModeBetween) {
    return kConditionModeAtOrAfter;
  }
  return number;
}

ConditionLookup lookUpConditionValue(const ConditionLine& condition, Profile* rootIni,
                                     std::string* value) {
  if (!condition.isRegistry) {
    *value = rootIni->getString(*condition.fourth, *condition.key, "");
    return ConditionLookup::kFound;
  }
  // An empty path or key counts as absent: the root key itself, and the
  // opened key's own default value.
  const char* subkeyPath = isFilled(condition.path) ? condition.path->c_str() : nullptr;
  const char* subkeyName = isFilled(condition.key) ? condition.key->c_str() : nullptr;
  platform::RegistryKey opened;
  if (!platform::openRegistryKey(platform::getRootKey(condition.root), subkeyPath,
                                 platform::RegistryAccess::kRead, &opened)
           .ok) {
    return ConditionLookup::kKeyNotOpened;
  }
  RegistryKeyHolder key(opened);
  platform::Status read =
      platform::queryRegistryDefaultValue(key.get(), subkeyName, kRegistryValueCapacity, value);
  return read.ok ? ConditionLookup::kFound : ConditionLookup::kValueNotRead;
}

bool conditionValueHolds(const std::string& value, const ConditionLine& condition) {
  if (!isFilled(condition.start)) {
    return false;
  }
  std::string start = *condition.start;
  trimBlanks(start);
  int toStart = compareNoCase(value, start);
  // Without an end (absent, or nothing but blanks) a range is open upwards:
  // the value need only be at or after its start.
  bool hasEnd = false;
  int toEnd = 0;
  if (condition.end && !start.empty()) {
    std::string end = *condition.end;
    trimBlanks(end);
    hasEnd = !end.empty();
    toEnd = compareNoCase(value, end);
  }
  switch (conditionModeOf(condition.mode)) {
    case kConditionModeAny:
      return true;
    case kConditionModeEqual:
      return toStart == 0;
    case kConditionModeAtOrBefore:
      return toStart <= 0;
    case kConditionModeBetween:
      return toStart >= 0 && (!hasEnd || toEnd <= 0);
    default:
      return toStart >= 0;
  }
}
