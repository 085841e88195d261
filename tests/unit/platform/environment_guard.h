// Sets environment variables for one test and puts the old values back when
// the guard goes, also after a failed assertion.
#ifndef TESTS_UNIT_PLATFORM_ENVIRONMENT_GUARD_H_
#define TESTS_UNIT_PLATFORM_ENVIRONMENT_GUARD_H_

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

class EnvironmentGuard {
 public:
  EnvironmentGuard() = default;
  ~EnvironmentGuard() {
    for (const auto& saved : savedValues) {
      if (saved.second) {
        setenv(saved.first.c_str(), saved.second->c_str(), 1);
      } else {
        unsetenv(saved.first.c_str());
      }
    }
  }

  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

  // Sets name to value; a null value unsets it.
  void set(const std::string& name, const char* value) {
    if (savedValues.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      savedValues[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
    }
    if (value == nullptr) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value, 1);
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> savedValues;
};

#endif  // TESTS_UNIT_PLATFORM_ENVIRONMENT_GUARD_H_
