#include "support/environment_guard.h"

#include <cstdlib>
#include <ctime>

namespace {

void apply(const std::string& name, const char* value) {
  if (value == nullptr) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value, 1);
  }
  // The C library caches the zone; a changed TZ counts only after tzset.
  if (name == "TZ") tzset();
}

}  // namespace

EnvironmentGuard::~EnvironmentGuard() {
  for (const auto& [name, value] : savedValues) apply(name, value ? value->c_str() : nullptr);
}

void EnvironmentGuard::set(const std::string& name, const char* value) {
  if (savedValues.count(name) == 0) {
    const char* old = std::getenv(name.c_str());
    savedValues[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
  }
  apply(name, value);
}
