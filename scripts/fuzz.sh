#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz) and runs each one for a
# bounded time, default 8 seconds, on a copy of its seed corpus, so that the
# repository's corpus never grows. Fails on any crash, sanitizer report, leak
# or time-out. Installs clang and its fuzzer runtime on a Debian machine first.
#
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail

cd "$(dirname "$0")/.."
. scripts/packages.sh

seconds="${1:-8}"
# One LLVM release for the compiler and the fuzzer and sanitizer runtime it
# links: a clang of another release than its runtime fails to link or
# reports against the wrong instrumentation.
llvm_version=14
ensure_packages cmake make "clang-$llvm_version" "libclang-rt-$llvm_version-dev" libgtest-dev

targets=(fuzz_profile fuzz_catalogue fuzz_entry_line fuzz_journal fuzz_substitute fuzz_path fuzz_registry
  fuzz_run fuzz_seal)
jobs="$(nproc 2>/dev/null || echo 2)"
CC="clang-$llvm_version" CXX="clang++-$llvm_version" cmake -S . -B build-fuzz -DTVPAT_FUZZ=ON \
  -DTVPAT_WITH_WIN32=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "${targets[@]}" -j"$jobs"

# The work directory holds the corpus copies and, through TMPDIR, every
# scratch directory the targets make; it goes whatever way the script ends.
# The targets save files at every step, so memory-backed storage, where the
# machine has it, makes them many times faster.
work="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Inputs that fail are kept in the build directory, where they can be run
# again: build-fuzz/<target> <file>.
artifacts="build-fuzz/artifacts"
mkdir -p "$artifacts"

failed=()
for target in "${targets[@]}"; do
  mkdir -p "$work/corpus/$target"
  cp tests/fuzz/corpus/"$target"/* "$work/corpus/$target/"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  if [ -f "tests/fuzz/$target.dict" ]; then
    options+=(-dict="tests/fuzz/$target.dict")
  fi
  # The whole run prints the installer's own console lines; they are noise
  # here, and a finding is still reported on the saved standard error.
  if [ "$target" = fuzz_run ]; then
    options+=(-close_fd_mask=3)
  fi
  echo "== $target (${seconds}s)"
  if ! "build-fuzz/$target" "${options[@]}" "$work/corpus/$target" 2>"$work/$target.log"; then
    cat "$work/$target.log"
    failed+=("$target")
  else
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
      "$work/$target.log" || true
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
echo "Fuzzing: every target ran ${seconds}s without a finding."
