#include "engine/registry_key_holder.h"

RegistryKeyHolder::~RegistryKeyHolder() { platform::closeRegistryKey(key); }
