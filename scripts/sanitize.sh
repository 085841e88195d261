#!/usr/bin/env bash
# Builds the Linux programs and tests a second time, under AddressSanitizer
# and UndefinedBehaviorSanitizer (build-asan), and runs the whole native
# suite with them: the unit tests and the end-to-end tests, which then run
# the sanitized tvpat32 and tvprestart as child programs.
set -euo pipefail

cd "$(dirname "$0")/.."
. scripts/packages.sh

# One GCC release for the compiler and the sanitizer runtime that comes with
# it (libasan, libubsan).
gcc_version=12
ensure_packages cmake make "g++-$gcc_version" libgtest-dev

# The installer ends with exit code 1 on every failure path, and the tests
# expect that code, so a sanitizer report must end a program with a code no
# test expects: 86. The first report ends the program (halt_on_error), in
# the child programs of the end-to-end tests as much as in the test
# programs. Leaks are checked at every exit: the installer ends some runs
# with exit(1) on purpose without tearing down, but what it still holds then
# is reachable and not reported; only memory nothing points to any more is a
# leak. The death tests' child processes are checked the same way, so a leak
# on such a path fails its test through the exit code.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:print_stacktrace=1"
export LSAN_OPTIONS="exitcode=86"

jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER="g++-$gcc_version" -DTVPAT_SANITIZE=ON \
  -DTVPAT_WITH_WIN32=OFF -DTVPAT_WERROR=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure
