#!/usr/bin/env bash
# Tests scripts/check-imports.sh on tiny programs built here: it must accept a
# program that imports only listed functions, refuse one that imports
# GetFileAttributesExA, cover every program of a directory but the test
# helpers, refuse a header asking for Windows 2000, refuse a list that would
# allow a function Windows 95 lacks, and refuse code passing a flag the 95
# family refuses.
#
#   tests/imports/check_imports_test.sh [CROSS_COMPILER]
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
check="$here/../../scripts/check-imports.sh"
compiler="${1:-i686-w64-mingw32-g++}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
# expect NAME EXIT_CODE TEXT COMMAND...: the command ends with EXIT_CODE and
# its output holds TEXT.
expect() {
  local name="$1" code="$2" text="$3" output status
  shift 3
  output="$("$@" 2>&1)"
  status=$?
  if [ "$status" -eq "$code" ] && [[ "$output" == *"$text"* ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name (exit $status, expected $code and \"$text\"):"
    echo "$output"
  fi
}

"$compiler" -O2 -static "$here/import_probe.cc" -o "$work/plain.exe" || exit 1
"$compiler" -O2 -static -DTVPAT_PROBE_USES_EX "$here/import_probe.cc" -o "$work/ex.exe" || exit 1
"$compiler" -O2 -static -Wl,--subsystem,console:5.0 "$here/import_probe.cc" \
  -o "$work/nt5.exe" || exit 1

expect "listed imports pass" 0 "plain.exe: " bash "$check" "$work/plain.exe"
expect "GetFileAttributesExA is refused" 1 "imports KERNEL32.DLL GetFileAttributesExA" \
  bash "$check" "$work/ex.exe"
expect "a header for Windows 2000 is refused" 1 "MajorSubsystemVersion 5.0" \
  bash "$check" "$work/nt5.exe"

# A directory: the test helpers are skipped, any other program is checked.
mkdir "$work/build" "$work/empty"
cp "$work/plain.exe" "$work/build/tvpat32.exe"
cp "$work/ex.exe" "$work/build/tvhold.exe"
expect "test helpers are skipped" 0 "1 program(s)" bash "$check" "$work/build"
cp "$work/ex.exe" "$work/build/TVPCHECK.EXE"
expect "every other program is checked" 1 "TVPCHECK.EXE: imports KERNEL32.DLL GetFileAttributesExA" \
  bash "$check" "$work/build"
expect "no program fails" 1 "no Windows program" bash "$check" "$work/empty"

# The list itself: a function Windows 95 lacks cannot be allowed.
cp "$here/../../src/platform/win32/allowed-imports.txt" "$work/list.txt"
echo "KERNEL32.DLL | GetFileAttributesExA | Windows 98, Windows NT 4.0 | MSDN" >>"$work/list.txt"
expect "a Windows 98 minimum is refused" 1 "GetFileAttributesExA needs 'Windows 98, Windows NT 4.0'" \
  bash "$check" --list "$work/list.txt" "$work/plain.exe"
echo "KERNEL32.DLL | GetFileAttributesExA | unknown: not consulted | none" >"$work/unknown.txt"
cat "$here/../../src/platform/win32/allowed-imports.txt" >>"$work/unknown.txt"
expect "an unconsulted entry is accepted and counted" 0 "rest on documentation not consulted" \
  bash "$check" --list "$work/unknown.txt" "$work/ex.exe"

# The sources: a flag the 95 family refuses fails in code, not in a comment.
mkdir "$work/src"
printf '%s\n' '// FILE_SHARE_DELETE is unknown to the 95 family.' 'int share = FILE_SHARE_READ;' \
  >"$work/src/comment.cc"
expect "a flag in a comment passes" 0 "1 program(s)" \
  bash "$check" --sources "$work/src" "$work/plain.exe"
printf '%s\n' 'int share = FILE_SHARE_READ | FILE_SHARE_DELETE;' >"$work/src/code.cc"
expect "a flag in code is refused" 1 "code.cc:1: passes a flag" \
  bash "$check" --sources "$work/src" "$work/plain.exe"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
