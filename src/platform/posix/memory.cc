#include "platform/memory.h"

#include "platform/posix/test_hooks.h"

namespace platform {

namespace {

testing::AllocationFault allocationFault = nullptr;

}  // namespace

bool isAllocationRefused(const char* module, unsigned long bytes) {
  return allocationFault != nullptr && allocationFault(module, bytes);
}

namespace testing {

void setAllocationFault(AllocationFault fault) { allocationFault = fault; }

}  // namespace testing
}  // namespace platform
