#include "support/fuzz_check.h"

#include <cstdio>
#include <cstdlib>

void fuzzCheck(bool condition, const char* target, const char* what, const char* context) {
  if (condition) return;
  if (context != nullptr) {
    std::fprintf(stderr, "%s: %s after %s\n", target, what, context);
  } else {
    std::fprintf(stderr, "%s: %s\n", target, what);
  }
  std::abort();
}
