// The registry: keys under the four predefined roots, their values, and the
// enumeration and deletion of subkeys and values, mirroring the Reg*A calls.
//
// On Win32 this is the real registry. The POSIX stand-in keeps it in a
// REGEDIT4 text file (TVPAT_REGISTRY, default REGISTRY.REG in the Windows
// directory), read at every call and saved atomically after every change.
// A malformed file makes every call fail.
#ifndef SRC_PLATFORM_REGISTRY_H_
#define SRC_PLATFORM_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace platform {

enum class RegistryRoot { kLocalMachine, kCurrentUser, kClassesRoot, kUsers };

// An open key: an HKEY on Win32, an entry of the stand-in's table of open
// keys on POSIX. Close every key that an open or create call gave.
struct RegistryKey {
  std::intptr_t value = 0;
};

// The predefined key of a root; it needs no opening or closing.
RegistryKey getRootKey(RegistryRoot root);

enum class RegistryAccess { kRead, kAllAccess };

// Opens `subkey` below `parent`; a null or empty subkey opens `parent` itself
// again. notFound when the key does not exist.
Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                       RegistryKey* key);

// Opens `subkey` below `parent` with all access, creating it and every missing
// level (non-volatile, no class, default security). A null subkey opens
// `parent` itself again.
Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key);

// Reads the default value of `subkey` below `key` (null: of `key` itself), as
// RegQueryValueA does, into a buffer of `capacity` bytes including the
// terminating zero. Fails when the subkey does not exist or the value does
// not fit.
Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                 std::string* value);

// Sets the string value `name` (null: the default value) of `key`.
Status setRegistryString(RegistryKey key, const char* name, const std::string& value);

Status deleteRegistryValue(RegistryKey key, const char* name);

// Registry value types, as the system numbers them.
constexpr unsigned long kRegistryString = 1;        // REG_SZ
constexpr unsigned long kRegistryExpandString = 2;  // REG_EXPAND_SZ
constexpr unsigned long kRegistryBinary = 3;        // REG_BINARY
constexpr unsigned long kRegistryDword = 4;         // REG_DWORD
constexpr unsigned long kRegistryMultiString = 7;   // REG_MULTI_SZ

// A value as the registry keeps it: its type and its bytes as stored (a
// string value with its terminating zero).
struct RegistryValue {
  unsigned long type = 0;
  std::string data;
};

// Reads the value `name` (null or empty: the default value) of `key`, whatever
// its type and size. notFound when there is no such value.
Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value);

// The value at `index` of `key`, in the order the registry lists them: its
// name (empty for the default value) and the value. notFound
// (ERROR_NO_MORE_ITEMS) when there is no value at that index.
Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                              RegistryValue* value);

// Sets the value `name` (null or empty: the default value) of `key` to the
// type and bytes given.
Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value);

// Deletes `subkey` below `key`, which must have no subkeys; an empty subkey
// deletes `key` itself.
Status deleteRegistryKey(RegistryKey key, const char* subkey);

Status countRegistrySubkeys(RegistryKey key, unsigned long* count);

// The name of the subkey at `index`, in the order the registry lists them,
// into a buffer of `capacity` characters including the terminating zero.
// notFound (ERROR_NO_MORE_ITEMS) when there is no subkey at that index; a
// longer name fails.
Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                               std::string* name);

Status closeRegistryKey(RegistryKey key);

}  // namespace platform

#endif  // SRC_PLATFORM_REGISTRY_H_
