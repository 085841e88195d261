// The parts of a condition line of section "Patch" that do not depend on the
// machine: which group a line belongs to, its fields and form, its mode, and
// the comparison of a value found with its range. The engine decides a
// condition with them, and the profile checker reads conditions through
// them, so both take a line the same way. Plain values; nothing is owned.
#ifndef SRC_ENGINE_CONDITION_LINE_H_
#define SRC_ENGINE_CONDITION_LINE_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "engine/entry_line.h"
#include "platform/registry.h"

class Profile;

// Comparison modes of a condition, numbered 0 to 4 as its mode field holds
// them: how the value found compares with the range start (and, in mode 4,
// the range end).
enum ConditionMode : int {
  kConditionModeAny = 0,
  kConditionModeEqual,
  kConditionModeAtOrAfter,
  kConditionModeAtOrBefore,
  kConditionModeBetween,
};

// One condition line split into its fields. The registry form has the key's
// path after the root; in the INI form `path` stays absent.
struct ConditionLine {
  EntryField branch;
  EntryField os;
  EntryField mode;
  EntryField fourth;
  EntryField path;
  EntryField key;
  EntryField start;
  EntryField end;
  bool isRegistry = false;
  platform::RegistryRoot root = platform::RegistryRoot::kLocalMachine;
  // Fields present after "=", up to the eight the registry form reads.
  std::size_t fieldCount = 0;
};

// Whether line opens, in column 1, with "Condition", a group number written
// as %d writes it (no sign, no leading zero) and "="; the number goes to
// *group.
bool conditionGroupOf(const std::string& line, int* group);

// The condition lines of section "Patch" sorted into their groups, each
// group's line positions in file order. One pass over the section: scanning
// it again for every group would make many groups take quadratic time.
std::map<int, std::vector<std::size_t>> conditionGroupsOf(const Profile& profile);

// Splits a whole condition line ("Condition" + N + "=" included).
ConditionLine parseConditionLine(const std::string& line);

// The root a condition's fourth field names: its first four characters are
// HKLM, HKCU or HKCR, or it is exactly HKU. False for an INI section.
bool findConditionRoot(const std::string& field, platform::RegistryRoot* root);

// The mode a mode field gives: its number when that is 0 to 4, otherwise
// (absent, empty, out of range, no number) "at or after".
int conditionModeOf(const EntryField& mode);

// How looking up a condition's value went.
enum class ConditionLookup { kFound, kKeyNotOpened, kValueNotRead };

// Finds the value a condition tests: the default value of a registry key, or
// a key of the product root's TAVRO.INI (rootIni). Reads only.
ConditionLookup lookUpConditionValue(const ConditionLine& condition, Profile* rootIni,
                                     std::string* value);

// Whether a value found, trimmed and not empty, satisfies the condition's
// mode and range. False when the range start is absent or empty.
bool conditionValueHolds(const std::string& value, const ConditionLine& condition);

#endif  // SRC_ENGINE_CONDITION_LINE_H_
