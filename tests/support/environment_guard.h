// Sets environment variables for one test and puts the old values back when
// the guard goes, also after a failed assertion. Every test that changes the
// environment does it through one of these.
#ifndef TESTS_SUPPORT_ENVIRONMENT_GUARD_H_
#define TESTS_SUPPORT_ENVIRONMENT_GUARD_H_

#include <map>
#include <optional>
#include <string>

class EnvironmentGuard {
 public:
  EnvironmentGuard() = default;
  ~EnvironmentGuard();

  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

  // Sets name to value; a null value unsets it. The value before the first
  // change of each name comes back when the guard goes.
  void set(const std::string& name, const char* value);
  void set(const std::string& name, const std::string& value) { set(name, value.c_str()); }

 private:
  std::map<std::string, std::optional<std::string>> savedValues;
};

#endif  // TESTS_SUPPORT_ENVIRONMENT_GUARD_H_
