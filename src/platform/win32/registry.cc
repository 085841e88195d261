#include "platform/native_calls.h"

#include "platform/registry.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/win32/handle_value.h"
#include "platform/win32/win32_status.h"

namespace platform {
namespace native {

namespace {

HKEY toHkey(RegistryKey key) { return toSystemHandle<HKEY>(key); }
RegistryKey fromHkey(HKEY hkey) { return fromSystemHandle<RegistryKey>(hkey); }

// The registry calls take no null subkey; an empty one means the key itself.
const char* orEmpty(const char* subkey) { return subkey != nullptr ? subkey : ""; }

// A value name holds at most 16383 characters on Windows NT and 255 on the
// Windows 95 family, so a buffer of this size takes any name.
constexpr DWORD kValueNameCapacity = 16384;

// The size to ask for again after ERROR_MORE_DATA. The call reports the size
// it needs, but Windows NT reports a string's size before converting it from
// Unicode, so doubling as well keeps the retries few whatever it reports.
DWORD grownSize(DWORD current, DWORD needed) {
  DWORD doubled = current > MAXDWORD / 2 ? MAXDWORD : current * 2;
  return needed > doubled ? needed : doubled;
}

}  // namespace

RegistryKey getRootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine:
      return fromHkey(HKEY_LOCAL_MACHINE);
    case RegistryRoot::kCurrentUser:
      return fromHkey(HKEY_CURRENT_USER);
    case RegistryRoot::kClassesRoot:
      return fromHkey(HKEY_CLASSES_ROOT);
    case RegistryRoot::kUsers:
      return fromHkey(HKEY_USERS);
  }
  return fromHkey(HKEY_LOCAL_MACHINE);
}

Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                       RegistryKey* key) {
  REGSAM rights = access == RegistryAccess::kRead ? KEY_READ : KEY_ALL_ACCESS;
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(toHkey(parent), orEmpty(subkey), 0, rights, &opened);
  if (result == ERROR_SUCCESS) {
    *key = fromHkey(opened);
  }
  return registryStatus(result);
}

Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  LONG result =
      RegCreateKeyExA(toHkey(parent), orEmpty(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &created, &disposition);
  if (result == ERROR_SUCCESS) {
    *key = fromHkey(created);
  }
  return registryStatus(result);
}

Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                 std::string* value) {
  // One spare byte keeps the text terminated even when it was stored
  // without its zero.
  std::vector<char> buffer(capacity + 1, '\0');
  LONG size = capacity > LONG_MAX ? LONG_MAX : static_cast<LONG>(capacity);
  LONG result = RegQueryValueA(toHkey(key), subkey, buffer.data(), &size);
  if (result != ERROR_SUCCESS) {
    return registryStatus(result);
  }
  value->assign(buffer.data(), std::find(buffer.begin(), buffer.end(), '\0') - buffer.begin());
  return Status::success();
}

Status setRegistryString(RegistryKey key, const char* name, const std::string& value) {
  // The stored data of REG_SZ includes the terminating zero.
  LONG result =
      RegSetValueExA(toHkey(key), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  return registryStatus(result);
}

Status deleteRegistryValue(RegistryKey key, const char* name) {
  return registryStatus(RegDeleteValueA(toHkey(key), name));
}

Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) {
  DWORD type = 0;
  DWORD size = 0;
  LONG result = RegQueryValueExA(toHkey(key), name, nullptr, &type, nullptr, &size);
  if (result != ERROR_SUCCESS) {
    return registryStatus(result);
  }
  // The value may grow between the calls; then the read reports ERROR_MORE_DATA
  // and is made again with a larger buffer. A zero-length buffer would read as
  // no buffer at all, so there is always at least one byte.
  std::vector<BYTE> buffer(size > 0 ? size : 1);
  for (;;) {
    DWORD read = static_cast<DWORD>(buffer.size());
    result = RegQueryValueExA(toHkey(key), name, nullptr, &type, buffer.data(), &read);
    if (result == ERROR_MORE_DATA) {
      buffer.resize(grownSize(static_cast<DWORD>(buffer.size()), read));
      continue;
    }
    if (result != ERROR_SUCCESS) {
      return registryStatus(result);
    }
    value->type = type;
    value->data.assign(reinterpret_cast<const char*>(buffer.data()), read);
    return Status::success();
  }
}

Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                              RegistryValue* value) {
  std::vector<char> nameBuffer(kValueNameCapacity + 1, '\0');
  std::vector<BYTE> buffer(256);
  for (;;) {
    DWORD nameSize = kValueNameCapacity;
    DWORD type = 0;
    DWORD read = static_cast<DWORD>(buffer.size());
    LONG result = RegEnumValueA(toHkey(key), index, nameBuffer.data(), &nameSize, nullptr, &type,
                                buffer.data(), &read);
    // The name always fits, so ERROR_MORE_DATA is about the data.
    if (result == ERROR_MORE_DATA) {
      buffer.resize(grownSize(static_cast<DWORD>(buffer.size()), read));
      continue;
    }
    if (result != ERROR_SUCCESS) {
      return registryStatus(result);
    }
    name->assign(nameBuffer.data(), nameSize);
    value->type = type;
    value->data.assign(reinterpret_cast<const char*>(buffer.data()), read);
    return Status::success();
  }
}

Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value) {
  LONG result = RegSetValueExA(toHkey(key), name, 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               static_cast<DWORD>(value.data.size()));
  return registryStatus(result);
}

Status deleteRegistryKey(RegistryKey key, const char* subkey) {
  return registryStatus(RegDeleteKeyA(toHkey(key), orEmpty(subkey)));
}

Status countRegistrySubkeys(RegistryKey key, unsigned long* count) {
  DWORD subkeys = 0;
  LONG result = RegQueryInfoKeyA(toHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) {
    *count = subkeys;
  }
  return registryStatus(result);
}

Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                               std::string* name) {
  std::vector<char> buffer(capacity + 1, '\0');
  DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
  LONG result =
      RegEnumKeyExA(toHkey(key), index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    return registryStatus(result);
  }
  name->assign(buffer.data(), size);
  return Status::success();
}

Status closeRegistryKey(RegistryKey key) { return registryStatus(RegCloseKey(toHkey(key))); }

}  // namespace native
}  // namespace platform
