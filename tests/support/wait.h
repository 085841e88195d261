// The one way a test waits for something another process does (a file that
// a program started in the background writes, a process that ends): look
// again and again until it holds or a deadline passes.
#ifndef TESTS_SUPPORT_WAIT_H_
#define TESTS_SUPPORT_WAIT_H_

#include <functional>

// Looks at condition until it holds, for at most `seconds`; returns whether
// it held. The deadline only ends a wait that would otherwise hang; no test
// result depends on how long the wait took.
bool waitUntil(const std::function<bool()>& condition, int seconds = 60);

#endif  // TESTS_SUPPORT_WAIT_H_
