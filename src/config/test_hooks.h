// Test hook of the memory the run asks for: lets a test refuse one chosen
// allocation, since a real machine cannot be made to run out of memory at a
// chosen point. Only tests include this header; the program never sets it.
#ifndef SRC_CONFIG_TEST_HOOKS_H_
#define SRC_CONFIG_TEST_HOOKS_H_

namespace config {
namespace testing {

// Decides one allocation: `module` is the source module that asks (as the
// critical-error report names it) and `bytes` the size asked for. Returns
// true to refuse it, which then fails as a real shortage of memory does.
using AllocationFault = bool (*)(const char* module, unsigned long bytes);

// Installs the hook; null removes it.
void setAllocationFault(AllocationFault fault);

}  // namespace testing
}  // namespace config

#endif  // SRC_CONFIG_TEST_HOOKS_H_
