#include "support/fault_hooks.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace {

std::string folded(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return result;
}

// The allocation hook is a plain function pointer, so the module it refuses
// lives here.
const char* refusedModule = nullptr;

bool refuseModule(const char* module, unsigned long) {
  return refusedModule != nullptr && std::string(module) == refusedModule;
}

}  // namespace

bool isSamePath(const std::string& a, const std::string& b) { return folded(a) == folded(b); }

void FaultHooks::set(platform::testing::FaultHook hook) {
  platform::testing::setFaultHook(std::move(hook));
}

void FaultHooks::fail(const std::vector<Call>& calls, int errorNumber, const std::string& part) {
  std::string foldedPart = folded(part);
  set([=](Call asked, const std::string& about) {
    bool named = std::find(calls.begin(), calls.end(), asked) != calls.end();
    return named && folded(about).find(foldedPart) != std::string::npos ? errorNumber : 0;
  });
}

void FaultHooks::failFrom(Call call, int occurrence) {
  auto seen = std::make_shared<int>(0);
  set([=](Call asked, const std::string&) {
    return asked == call && ++*seen >= occurrence ? EIO : 0;
  });
}

void FaultHooks::refuseMemory(const char* module) {
  refusedModule = module;
  platform::testing::setAllocationFault(refuseModule);
}

void FaultHooks::clear() {
  platform::testing::setFaultHook(nullptr);
  platform::testing::setAllocationFault(nullptr);
  refusedModule = nullptr;
}
