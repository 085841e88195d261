// RegistryKeyHolder closes an open registry key when it goes out of scope, so
// that every way out of a registry edit, failures included, closes each key
// it opened exactly once. A holder lives on the stack of the function that
// opened the key; root keys need no holder.
#ifndef SRC_ENGINE_REGISTRY_KEY_HOLDER_H_
#define SRC_ENGINE_REGISTRY_KEY_HOLDER_H_

#include "platform/registry.h"

class RegistryKeyHolder {
 public:
  // Takes over `key`, which an open or create call has just given.
  explicit RegistryKeyHolder(platform::RegistryKey key) : key(key) {}
  // Closes the key; a failing close has no one left to tell.
  ~RegistryKeyHolder();

  RegistryKeyHolder(const RegistryKeyHolder&) = delete;
  RegistryKeyHolder& operator=(const RegistryKeyHolder&) = delete;

  platform::RegistryKey get() const { return key; }

 private:
  platform::RegistryKey key;
};

#endif  // SRC_ENGINE_REGISTRY_KEY_HOLDER_H_
