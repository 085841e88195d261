// The one seam between the run's allocations and the tests: a real machine
// cannot be made to run out of memory at a chosen point, so the POSIX build
// lets a test refuse one chosen allocation (platform/posix/test_hooks.h).
// The Windows program has no such hook and never refuses.
#ifndef SRC_PLATFORM_MEMORY_H_
#define SRC_PLATFORM_MEMORY_H_

namespace platform {

// Whether the allocation of `bytes` that `module` (a source module, as the
// critical-error report names it) is about to make is to fail as a real
// shortage of memory does. Always false in the program.
bool isAllocationRefused(const char* module, unsigned long bytes);

}  // namespace platform

#endif  // SRC_PLATFORM_MEMORY_H_
