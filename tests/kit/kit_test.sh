#!/usr/bin/env bash
# Tests the release kits that the package target makes: each archive holds
# exactly the files listed here, the Windows kit's README.TXT has CR LF line
# ends and names the version, and the example patches install with the
# programs as unpacked from the kit, natively and, when the environment is
# the one ctest gives the Wine tests (TVPAT_E2E_TARGET=wine), under Wine. The
# Windows kit is skipped when there is no Windows build.
#
#   tests/kit/kit_test.sh VERSION TVPAT_E2E NATIVE_BUILD [WIN32_BUILD]
set -uo pipefail

version="$1"
e2e="$2"
native_build="$(cd "$3" && pwd)" || exit 1
win32_build="${4:-}"
[ -d "$win32_build" ] && win32_build="$(cd "$win32_build" && pwd)"
examples="$(cd "$(dirname "$0")/../../examples" && pwd)"
# The cases that install every example from its patch directory, with the
# catalogue beside the program, checked and planned by the kit's checker.
install_tests='Examples/ExamplePatch.*'

work="$(mktemp -d -t tvpat-kit.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
  echo "FAILED: $*"
  failed=1
}

# package BUILD ARCHIVE DIRECTORY: makes the build's kit and unpacks it into
# the new DIRECTORY; fails with the package target's output.
package() {
  local build="$1" archive="$2" unpacked="$3"
  if ! cmake --build "$build" --target package >"$work/package.log" 2>&1; then
    cat "$work/package.log"
    return 1
  fi
  mkdir "$unpacked" && (cd "$unpacked" && cmake -E tar xf "$build/$archive")
}

# expect_listing ARCHIVE EXPECTED: the archive's files, below the directory
# named like the archive, are the expected ones.
expect_listing() {
  local archive="$1" expected="$2" top="${1##*/}"
  top="${top%.tar.gz}"
  top="${top%.zip}"
  cmake -E tar tf "$archive" | grep -v '/$' | sed "s|^$top/||" | LC_ALL=C sort >"$work/listing"
  if ! LC_ALL=C sort <<<"$expected" | diff -u - "$work/listing"; then
    fail "${archive##*/} does not hold what it should (-: missing, +: not expected)"
  fi
}

# run_examples KIT VARIABLE=VALUE...: the install cases of the end-to-end
# suite in that environment; a filter that selects no case fails too.
run_examples() {
  local kit="$1" output status
  shift
  output="$(env "$@" GTEST_FILTER="$install_tests" "$e2e" 2>&1)"
  status=$?
  if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \] [1-9]' <<<"$output"; then
    echo "$output"
    fail "the examples with the programs of $kit"
  fi
}

linux_archive="tvpat32-$version-linux.tar.gz"
if package "$native_build" "$linux_archive" "$work/linux"; then
  expect_listing "$native_build/$linux_archive" "TVPAT32.MSG
tvpat32
tvpcheck
tvprestart"
  kit="$work/linux/tvpat32-$version-linux"
  [ "$("$kit/tvpcheck" --version)" = "tvpcheck $version" ] || fail "tvpcheck --version"
  run_examples "$linux_archive" TVPAT_E2E_TARGET=native TVPAT_E2E_PROGRAM="$kit/tvpat32" \
    TVPAT_E2E_CHECKER="$kit/tvpcheck" TVPAT_E2E_RESTART="$kit/tvprestart" \
    TVPAT_E2E_EXAMPLES="$examples"
else
  fail "making or unpacking $linux_archive"
fi

if [ -z "$win32_build" ] || [ ! -d "$win32_build" ]; then
  echo "no Windows build: the Windows kit is not tested"
  exit "$failed"
fi

win32_archive="tvpat32-$version-win32.zip"
if ! package "$win32_build" "$win32_archive" "$work/win32"; then
  fail "making or unpacking $win32_archive"
  exit 1
fi
expect_listing "$win32_build/$win32_archive" "GUIDE.MD
README.TXT
TVPAT32.EXE
TVPAT32.MSG
TVPCHECK.EXE
examples/driver-update/machine/TAVRO/BIN/OBSOLETE.DLL
examples/driver-update/machine/TAVRO/BIN/TVCORE.DLL
examples/driver-update/machine/TAVRO/BIN/TVOLD.EXE
examples/driver-update/machine/TAVRO/BIN/VIEWER.EXE
examples/driver-update/machine/TAVRO/CONFIG/VIEWER.INI
examples/driver-update/machine/TAVRO/LANG/DE/LANG.TBL
examples/driver-update/machine/TAVRO/LANG/EN/LANG.TBL
examples/driver-update/machine/TAVRO/TAVRO.INI
examples/driver-update/machine/WINDOWS/REGISTRY.REG
examples/driver-update/patch/LANG.TBL
examples/driver-update/patch/RESTART.BAT
examples/driver-update/patch/TAVRO.CFG
examples/driver-update/patch/TVCORE.DLL
examples/driver-update/patch/TVHELP.HLP
examples/driver-update/patch/TVPAT32.DAT
examples/driver-update/patch/TVPAT32.MSG
examples/driver-update/patch/VIEWER.EXE
examples/help-language/machine/TAVRO/BIN/VIEWER.EXE
examples/help-language/machine/TAVRO/HELP/VIEWER.HLP
examples/help-language/machine/TAVRO/HELP/VIEWER1.HLP
examples/help-language/machine/TAVRO/LANG/DE/VIEWER.LNG
examples/help-language/machine/TAVRO/LANG/EN/VIEWER.LNG
examples/help-language/machine/TAVRO/LANG/FR/OLD/VIEWER.TBL
examples/help-language/machine/TAVRO/TAVRO.INI
examples/help-language/machine/WINDOWS/TAVRO.CNT
examples/help-language/patch/TAVROHLP.CNT
examples/help-language/patch/TVPAT32.DAT
examples/help-language/patch/TVPAT32.MSG
examples/help-language/patch/VIEWER.CNT
examples/help-language/patch/VIEWER.HLP
examples/help-language/patch/VIEWER.LNG
examples/settings/machine/TAVRO/CONFIG/VIEWER.INI
examples/settings/machine/TAVRO/TAVRO.INI
examples/settings/machine/WINDOWS/REGISTRY.REG
examples/settings/patch/TVPAT32.DAT
examples/settings/patch/TVPAT32.MSG"
kit="$work/win32/tvpat32-$version-win32"

readme="$kit/README.TXT"
if [ "$(grep -c $'\r$' "$readme")" -ne "$(wc -l <"$readme")" ] || [ -n "$(tail -c 1 "$readme")" ]; then
  fail "README.TXT has a line that does not end in CR LF"
fi
grep -qF "tvpat32 $version" "$readme" || fail "README.TXT does not name version $version"

if [ "${TVPAT_E2E_TARGET:-}" = wine ]; then
  # The programs and the examples come from the kit; the test helpers
  # (TVPAT_E2E_TOOLS) stay the build's.
  run_examples "$win32_archive" TVPAT_E2E_PROGRAM="$kit/TVPAT32.EXE" \
    TVPAT_E2E_CHECKER="$kit/TVPCHECK.EXE" TVPAT_E2E_EXAMPLES="$kit/examples"
fi
exit "$failed"
