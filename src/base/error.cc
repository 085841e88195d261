#include "base/error.h"

#include "config/test_hooks.h"

Error::Error(int number, unsigned long bytes, const char* module, int line)
    : errorNumber(number), size(bytes), errorMessage(), sourceFile(module), sourceLine(line) {}

Error::Error(int number, const std::string& message, const char* module, int line)
    : errorNumber(number), size(0), errorMessage(message), sourceFile(module), sourceLine(line) {}

namespace {

config::testing::AllocationFault allocationFault = nullptr;

}  // namespace

bool isAllocationRefused(const char* module, unsigned long bytes) {
  return allocationFault != nullptr && allocationFault(module, bytes);
}

namespace config {
namespace testing {

void setAllocationFault(AllocationFault fault) { allocationFault = fault; }

}  // namespace testing
}  // namespace config
