// The rules that turn an entry's fields into what the entry works on: the
// base-directory keyword, the option fields with their defaults, the root of
// a REG entry and which of its three actions the fields ask for. The entry
// handlers and the profile checker share them, so a profile means the same
// to both.
#ifndef SRC_ENGINE_ENTRY_RULES_H_
#define SRC_ENGINE_ENTRY_RULES_H_

#include <cstddef>
#include <functional>
#include <string>

#include "engine/entry_line.h"
#include "platform/registry.h"

class ConfigData;
class Profile;

// The base directory a component (or INI dir) field names.
enum class BaseDirectory { kNone, kWindows, kTavro };

// WINDOWS or TAVRO, compared as a whole without regard to case; kNone for an
// absent field or any other text.
BaseDirectory baseDirectoryOf(const char* component);

// The directory a component field names on this run: the Windows directory
// or the product root; false for any other text.
bool baseDirectoryPath(const char* component, const ConfigData& config, std::string* directory);

// Calls visit with the position and the trimmed text of every entry of the
// section whose header stands at `header`, in file order; empty lines and
// comments are skipped. The walk, the checker and the dry run see the same
// entries.
void forEachEntryLine(const Profile& profile, std::size_t header,
                      const std::function<void(std::size_t, const std::string&)>& visit);

// An option field's value: the number it begins with (blanks and a sign
// allowed), or defaultValue when it is absent, empty or holds no number.
int optionValueOf(const char* field, int defaultValue);

// Whether a present option field begins with a number, so that its text and
// not the default decides.
bool isOptionNumber(const std::string& field);

// The root a REG entry's first field names, compared as a whole: HKLM, HKCU,
// HKCR or HKU. False for any other text.
bool findEntryRoot(const std::string& field, platform::RegistryRoot* root);

// What a REG entry does, by the fields present (an empty path or name counts
// as absent, an empty value as present).
enum class RegistryAction { kSetValue, kDeleteValue, kDeleteTree, kRefused };

// kRefused when neither a path nor a name is given: the entry would delete
// everything below the root key itself.
RegistryAction registryActionOf(const EntryField& path, const EntryField& name,
                                const EntryField& value);

#endif  // SRC_ENGINE_ENTRY_RULES_H_
