// The test hooks of the POSIX stand-ins (a platform call that fails, an
// allocation that is refused) for one test: whatever a test installs through
// a FaultHooks object is removed when the object goes, also after a failed
// assertion, so no hook outlives the test that set it.
#ifndef TESTS_SUPPORT_FAULT_HOOKS_H_
#define TESTS_SUPPORT_FAULT_HOOKS_H_

#include <string>
#include <vector>

#include "platform/posix/test_hooks.h"

class FaultHooks {
 public:
  using Call = platform::testing::Call;

  FaultHooks() = default;
  ~FaultHooks() { clear(); }

  FaultHooks(const FaultHooks&) = delete;
  FaultHooks& operator=(const FaultHooks&) = delete;

  // Installs hook for the platform calls, in place of the one before.
  void set(platform::testing::FaultHook hook);
  // Fails every call of the kinds given with errorNumber; with a part given,
  // only the calls about a path that holds it (compared as the stand-ins
  // compare names: without case, '/' and '\' alike).
  void fail(const std::vector<Call>& calls, int errorNumber, const std::string& part = "");
  void fail(Call call, int errorNumber, const std::string& part = "") {
    fail(std::vector<Call>{call}, errorNumber, part);
  }
  // Fails the occurrence-th `call` and every one after it with EIO.
  void failFrom(Call call, int occurrence);
  // Refuses every allocation the given source module asks for.
  void refuseMemory(const char* module);
  // Removes both hooks now.
  void clear();
};

// Whether a and b name the same file for the stand-ins.
bool isSamePath(const std::string& a, const std::string& b);

#endif  // TESTS_SUPPORT_FAULT_HOOKS_H_
