// The one way a fuzz target reports a property that does not hold: a line on
// standard error and an abort, which libFuzzer counts as a crash and for
// which it keeps the input.
#ifndef TESTS_SUPPORT_FUZZ_CHECK_H_
#define TESTS_SUPPORT_FUZZ_CHECK_H_

// Does nothing when condition holds; otherwise writes "target: what" (and
// " after context" when context is given) and aborts.
void fuzzCheck(bool condition, const char* target, const char* what, const char* context = nullptr);

#endif  // TESTS_SUPPORT_FUZZ_CHECK_H_
