#!/usr/bin/env bash
# Holds the dry run against the run on many generated machines and patches:
# each case plans a patch with tvpcheck --plan, checks that the plan changed
# nothing, runs tvpat32 and the restart, and compares every planned line with
# what happened (tests/e2e/plan_differential_test.cc).
#
#   scripts/plan-differential.sh [CASES] [FIRST-SEED]
#
# CASES defaults to 1000 on the Linux build; WINE_CASES (default 0) runs that
# many more on the Windows build under Wine. A failing case prints its seed,
# which FIRST-SEED and a CASES of 1 run again alone. Builds the programs
# first (build/, as scripts/test.sh does).
set -euo pipefail

cd "$(dirname "$0")/.."
. scripts/packages.sh

cases="${1:-1000}"
first="${2:-1}"
wine_cases="${WINE_CASES:-0}"
if [ "$wine_cases" -gt 0 ]; then
  ensure_packages cmake make g++ libgtest-dev mingw-w64 wine wine32:i386
  cmake -S . -B build -DTVPAT_WITH_WIN32=ON >/dev/null
else
  ensure_packages cmake make g++ libgtest-dev
  cmake -S . -B build >/dev/null
fi
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"

GTEST_FILTER='PlanDifferential.*' TVPAT_PLAN_CASES="$cases" TVPAT_PLAN_SEED="$first" \
  ctest --test-dir build -R '^e2e_native$' --output-on-failure
if [ "$wine_cases" -gt 0 ]; then
  GTEST_FILTER='PlanDifferential.*' TVPAT_PLAN_CASES="$wine_cases" TVPAT_PLAN_SEED="$first" \
    ctest --test-dir build -R '^e2e_wine$' --output-on-failure
fi
echo "plan-differential: $cases cases on the Linux build, $wine_cases under Wine, all agree"
