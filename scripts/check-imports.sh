#!/usr/bin/env bash
# Checks that every Windows program we ship imports only the functions listed
# in src/platform/win32/allowed-imports.txt, the ones the platform
# documentation shows Windows 95 and Windows NT 4.0 both to have, so that
# their loaders do not refuse the program. Reads each program's import table
# with i686-w64-mingw32-objdump -p.
#
#   scripts/check-imports.sh [--list FILE] [--sources DIR]... [PROGRAM.exe | DIRECTORY]...
#
# A directory stands for every .exe and .dll directly in it, apart from the
# test helpers that only the end-to-end tests run under Wine (the programs
# built from tests/support/win32/*.cc). Without arguments the directory is
# build/win32, the Windows build that scripts/test.sh makes. A program named
# on its own is always checked.
#
# The check fails (exit 1) when a program imports a function the list does
# not hold, imports one by ordinal, has delay-loaded imports (which it does
# not read), asks for a subsystem or system version above 4.0 (Windows 95
# and NT 4.0 refuse such a program: Knowledge Base Q125705), when there is
# no program to check, or when a line of the list is malformed or gives a
# minimum system later than Windows 95 and Windows NT 4.0. It also fails when
# code under src/ and tools/ (or the --sources directories) passes a flag that
# the platform documentation gives for Windows NT only and the Windows 95
# family refuses: FILE_SHARE_DELETE and FILE_FLAG_BACKUP_SEMANTICS (CreateFile,
# MSDN pdwbase/filesio_7wmd.htm). Usage errors exit with 2.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/src/platform/win32/allowed-imports.txt"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"

usage() {
  echo "usage: $0 [--list FILE] [--sources DIR]... [PROGRAM.exe | DIRECTORY]..." >&2
  exit 2
}

targets=()
sources=()
while [ "$#" -gt 0 ]; do
  case "$1" in
    --list)
      [ "$#" -ge 2 ] || usage
      list="$2"
      shift 2
      ;;
    --sources)
      [ "$#" -ge 2 ] || usage
      sources+=("$2")
      shift 2
      ;;
    -h | --help) usage ;;
    *)
      targets+=("$1")
      shift
      ;;
  esac
done
[ "${#targets[@]}" -gt 0 ] || targets=("$root/build/win32")
[ "${#sources[@]}" -gt 0 ] || sources=("$root/src" "$root/tools")

if ! command -v "$objdump" >/dev/null 2>&1; then
  echo "check-imports: $objdump not found (install mingw-w64)" >&2
  exit 2
fi
[ -r "$list" ] || {
  echo "check-imports: cannot read the list $list" >&2
  exit 2
}

upper() { printf '%s' "$1" | tr '[:lower:]' '[:upper:]'; }
trim() {
  local text="$1"
  text="${text#"${text%%[![:space:]]*}"}"
  printf '%s' "${text%"${text##*[![:space:]]}"}"
}

failed=0
fail() {
  echo "check-imports: $*" >&2
  failed=1
}

# The list: DLL | function | minimum system | evidence.
declare -A allowed=()
declare -A unverified=()
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
  line_number=$((line_number + 1))
  line="${line%$'\r'}"
  case "$(trim "$line")" in
    '' | '#'*) continue ;;
  esac
  IFS='|' read -r dll function minimum evidence extra <<<"$line"
  dll="$(upper "$(trim "$dll")")"
  function="$(trim "${function:-}")"
  minimum="$(trim "${minimum:-}")"
  evidence="$(trim "${evidence:-}")"
  where="$list:$line_number"
  if [ -n "${extra:-}" ] || [ -z "$dll" ] || [ -z "$function" ] || [ -z "$minimum" ] ||
    [ -z "$evidence" ]; then
    fail "$where: expected 'DLL | function | minimum system | evidence'"
    continue
  fi
  if [[ "$dll" != *.DLL ]]; then
    fail "$where: '$dll' is not a DLL name"
    continue
  fi
  if [[ "$minimum" =~ ^unknown ]]; then
    unverified["$dll|$function"]=1
  elif ! [[ "$minimum" =~ ^Windows\ 95,\ Windows\ NT\ (3\.1|3\.5|3\.51|4\.0)$ ]]; then
    fail "$where: $function needs '$minimum'; only 'Windows 95, Windows NT 3.1' up to" \
      "'Windows NT 4.0' (or 'unknown: ...' where the documentation was not consulted) may be listed"
    continue
  fi
  if [ -n "${allowed["$dll|$function"]:-}" ]; then
    fail "$where: $dll $function is listed twice"
  fi
  allowed["$dll|$function"]="$where"
done <"$list"

# The flags the 95 family refuses, in code (comments may name them).
# shellcheck disable=SC2016 # the awk program is meant literally
while IFS= read -r hit; do
  fail "$hit: passes a flag that the Windows 95 family refuses (Windows NT only)"
done < <(find "${sources[@]}" -type f \( -name '*.cc' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 -r awk '{
    code = $0
    sub(/\/\/.*/, "", code)
    if (code ~ /FILE_SHARE_DELETE|FILE_FLAG_BACKUP_SEMANTICS/) print FILENAME ":" FNR
  }')

# The programs: the test helpers are the ones built from tests/support/win32.
declare -A helpers=()
for source in "$root"/tests/support/win32/*.cc; do
  [ -e "$source" ] || continue
  name="$(basename "$source" .cc)"
  helpers["$(upper "$name.exe")"]=1
done

programs=()
for target in "${targets[@]}"; do
  if [ -d "$target" ]; then
    while IFS= read -r -d '' program; do
      if [ -n "${helpers["$(upper "$(basename "$program")")"]:-}" ]; then
        echo "check-imports: skipping the test helper $program"
        continue
      fi
      programs+=("$program")
    done < <(find "$target" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
  elif [ -f "$target" ]; then
    programs+=("$target")
  else
    fail "no such program or directory: $target"
  fi
done
if [ "${#programs[@]}" -eq 0 ]; then
  fail "no Windows program to check in ${targets[*]} (build it first)"
  exit 1
fi

declare -A used=()
for program in "${programs[@]}"; do
  if ! dump="$("$objdump" -p "$program" 2>&1)"; then
    fail "$program: $objdump cannot read it: $dump"
    continue
  fi
  problems=0
  # Loaders before Windows 2000 refuse versions above 4.0 in the header.
  for field in MajorSubsystemVersion MajorOSystemVersion; do
    major="$(awk -v field="$field" '$1 == field { print $2 }' <<<"$dump")"
    minor_field="${field/Major/Minor}"
    minor="$(awk -v field="$minor_field" '$1 == field { print $2 }' <<<"$dump")"
    if [ -z "$major" ] || [ -z "$minor" ]; then
      fail "$program: no $field in the header"
      problems=1
    elif [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
      fail "$program: $field $major.$minor; Windows 95 and Windows NT 4.0 load 4.0 at most"
      problems=1
    fi
  done
  delay="$(awk '/Delay Import Directory/ { print $3 }' <<<"$dump")"
  if [ -n "$delay" ] && [ "$((16#$delay))" -ne 0 ]; then
    fail "$program: has delay-loaded imports, which this check does not read"
    problems=1
  fi
  # Each import: the DLL, then its members as "vma hint name" (or "<none>"
  # for one imported by ordinal), up to the blank line that ends the block.
  imports="$(awk '
    /^\tDLL Name: / { dll = toupper($3); inblock = 1; next }
    inblock && /^[[:space:]]*$/ { inblock = 0; next }
    inblock && /^\tvma:/ { next }
    inblock && /^\t[0-9a-fA-F]+\t/ { print dll "\t" $3 }
  ' <<<"$dump")"
  count=0
  while IFS=$'\t' read -r dll function; do
    [ -n "$dll" ] || continue
    count=$((count + 1))
    if [ "$function" = "<none>" ]; then
      fail "$program: imports a function of $dll by ordinal; list and import it by name"
      problems=1
      continue
    fi
    if [ -z "${allowed["$dll|$function"]:-}" ]; then
      fail "$program: imports $dll $function, which $(basename "$list") does not allow;" \
        "add it with the minimum system its documentation states, or avoid it"
      problems=1
      continue
    fi
    used["$dll|$function"]=1
  done <<<"$imports"
  if [ "$count" -eq 0 ]; then
    fail "$program: no import table found"
    problems=1
  fi
  if [ "$problems" -eq 0 ]; then
    echo "check-imports: $program: $count imports, all allowed"
  fi
done

declare -A unverified_by_dll=()
for key in "${!used[@]}"; do
  if [ -n "${unverified["$key"]:-}" ]; then
    dll="${key%%|*}"
    unverified_by_dll["$dll"]=$((${unverified_by_dll["$dll"]:-0} + 1))
  fi
done
for dll in "${!unverified_by_dll[@]}"; do
  echo "check-imports: ${unverified_by_dll["$dll"]} imports from $dll rest on documentation" \
    "not consulted (see $(basename "$list"))"
done

if [ "$failed" -ne 0 ]; then
  echo "check-imports: FAILED" >&2
  exit 1
fi
echo "check-imports: ${#programs[@]} program(s) import only what Windows 95 and Windows NT 4.0 export"
