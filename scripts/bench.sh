#!/usr/bin/env bash
# Times whole runs of the Linux installer on synthetic patches against the
# plain tools that do the same I/O, in one run, and prints a table of medians
# of elapsed time, with the installer's processor time beside it. Each round
# runs every program once per workload, interleaved, so that a burst of load
# on a shared machine falls on all of them alike; the machine is put back to
# its state before the run between two runs (not timed). Page cache warm:
# every program runs once before the rounds.
#
#   scripts/bench.sh [-n ROUNDS] [-c REVISION]... [-w WORKLOADS] [-s] [-m] [-k]
#
#   -n ROUNDS     rounds per workload, default 5; the table shows medians
#   -c REVISION   also build the installer of REVISION (any git revision) and
#                 time it beside the current tree's, e.g. -c HEAD~3; may be
#                 given more than once
#   -w WORKLOADS  a comma-separated choice of file,findfile,ini,reg,example,
#                 ledger,profile,noop (default: all of these) and wine
#   -s            also time the current installer on each patch sealed
#                 (tvpcheck --seal), as the column "sealed"
#   -m            run the micro-benchmarks (bench/) as well
#   -k            keep the scratch machines (for a profiler), print where
#
# The workload wine is left out unless named (-w wine): it builds the
# Windows program with mingw-w64 and times it under Wine (installing
# mingw-w64, wine, wine32:i386 and nsis when missing); seven rounds take
# about a minute once those are there. It puts the FILE patch (256 files of
# 1 MiB into an empty tree) on a machine in a Wine prefix of its own and
# times, interleaved: TVPAT32.EXE with the patch unsealed and sealed
# (TVPAT32.SUM from tvpcheck --seal, which the installer checks before it
# changes anything), and an NSIS installer of the same files stored
# (bench/nsis/files.nsi), silent, with its CRC check and without (/NCRC). It
# times the current tree only, whatever -c asks.
#
# Baselines flush as the installer does: the installer makes every file it
# writes reach the disk before it takes its place, so a baseline copy is
# followed by a flush (sync FILE...) of each file it wrote. BENCH_DIR chooses
# where the scratch machines go (default: a new directory under TMPDIR); the
# disk below it decides what a flush costs. Builds in Release under
# build/bench (and build/bench-REVISION, and for wine build/bench-win32),
# BENCH_JOBS compilers at a time (default 2). The Linux installer plays
# Windows NT 4.0, or the version BENCH_WINVER gives as TVPAT_WINVER does
# (0x00000005 plays Windows 2000, the first to let the installer fold its
# CRC-32 with the vector unit).
set -euo pipefail

cd "$(dirname "$0")/.."
top="$(pwd)"
. scripts/packages.sh

rounds=5
revisions=()
workloads="file,findfile,ini,reg,example,ledger,profile,noop"
micro=0
keep=0
seal=0
while getopts "n:c:w:smk" option; do
  case "$option" in
    n) rounds="$OPTARG" ;;
    c) revisions+=("$OPTARG") ;;
    w) workloads="$OPTARG" ;;
    s) seal=1 ;;
    m) micro=1 ;;
    k) keep=1 ;;
    *) sed -n '10,20p' "$0" >&2; exit 2 ;;
  esac
done

ensure_packages cmake make g++ libgtest-dev libbenchmark-dev
selected() { [[ ",$workloads," == *",$1,"* ]]; }
selected wine && ensure_packages mingw-w64 wine wine32:i386 nsis

jobs="${BENCH_JOBS:-2}"
echo "Building the installer (Release) in build/bench" >&2
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTVPAT_WITH_WIN32=OFF -DTVPAT_BENCH=ON \
  >/dev/null
targets=(tvpat32 durable_copy)
[ "$micro" -eq 1 ] && targets+=(tvpat_bench)
{ selected wine || [ "$seal" -eq 1 ]; } && targets+=(tvpcheck)
cmake --build build/bench --target "${targets[@]}" -j"$jobs" >/dev/null
if selected wine; then
  echo "Building the Windows installer (Release) in build/bench-win32" >&2
  # The tool chain counts only at the first configure; later ones would warn.
  cmake -S . -B build/bench-win32 --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/bench-win32 --target tvpat32 -j"$jobs" >/dev/null
fi

programs=(current)
declare -A binary=([current]="$top/build/bench/tvpat32")
durable_copy="$top/build/bench/durable_copy"
for revision in "${revisions[@]}"; do
  commit="$(git rev-parse --short "$revision^{commit}")"
  source="build/bench-$commit/source"
  if [ ! -f "$source/CMakeLists.txt" ]; then
    rm -rf "$source"
    mkdir -p "$source"
    git archive "$commit" | tar -x -C "$source"
  fi
  echo "Building the installer of $commit (Release) in build/bench-$commit" >&2
  cmake -S "$source" -B "build/bench-$commit/build" -DCMAKE_BUILD_TYPE=Release \
    -DTVPAT_WITH_WIN32=OFF >/dev/null
  cmake --build "build/bench-$commit/build" --target tvpat32 -j"$jobs" >/dev/null
  programs+=("$commit")
  binary[$commit]="$top/build/bench-$commit/build/tvpat32"
done
if [ "$seal" -eq 1 ]; then
  programs+=(sealed)
  binary[sealed]="${binary[current]}"
fi

load_start="$(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${BENCH_DIR:-}" ]; then
  mkdir -p "$BENCH_DIR"
  work="$(mktemp -d "$BENCH_DIR/tvpat-bench.XXXXXX")"
else
  work="$(mktemp -d -t tvpat-bench.XXXXXX)"
fi
# The Wine server the wine workload keeps running, ended at the exit.
wine_server=""
cleanup() {
  if [ -n "$wine_server" ]; then
    wineserver -k 2>/dev/null || true
    wait "$wine_server" 2>/dev/null || true
  fi
  [ "$keep" -eq 1 ] || rm -rf "$work"
}
trap cleanup EXIT
[ "$keep" -eq 1 ] && echo "Scratch machines kept in $work" >&2

now_us() { local t="$EPOCHREALTIME"; echo "${t/./}"; }

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# ms with one decimal from microseconds.
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }

# Builds a scratch machine in $1: the Windows directory (TAVRO.INI naming the
# product root, the ledger holding an older patch), the product root, and one
# patch directory per installer program, each with a copy of that program,
# the catalogue and the profile given on standard input. Files of the patch
# directory are hard links to those in $1/PAYLOAD, so the patch carries the
# same bytes for every program.
make_machine() {
  local machine="$1" program
  mkdir -p "$machine/WINDOWS" "$machine/TAVRO" "$machine/PAYLOAD" "$machine/TEMP"
  printf '[Tavro]\r\nroot=%s\r\n\r\n[Patch]\r\nInteractive=0\r\n\r\n[Install]\r\nPatch0=OLD\r\n' \
    "$machine/TAVRO" >"$machine/WINDOWS/TAVRO.INI"
  printf '[Version]\r\nLevel=2.0\r\n' >"$machine/TAVRO/TAVRO.INI"
  cat >"$machine/PAYLOAD/TVPAT32.DAT"
  for program in "${programs[@]}"; do
    mkdir -p "$machine/PATCH-$program"
    cp "${binary[$program]}" "$machine/PATCH-$program/tvpat32"
    cp catalogue/TVPAT32.MSG "$machine/PATCH-$program/"
  done
}

# Links every payload file into each patch directory; call once the payload
# is complete.
link_payload() {
  local machine="$1" program
  for program in "${programs[@]}"; do
    find "$machine/PAYLOAD" -maxdepth 1 -type f -exec ln -f -t "$machine/PATCH-$program" {} +
  done
  if [ "$seal" -eq 1 ] &&
    ! (cd "$machine/PATCH-sealed" && "$top/build/bench/tvpcheck" --seal TVPAT32.DAT >&2); then
    echo "The patch of ${machine##*/} cannot be sealed" >&2
    exit 1
  fi
}

# Keeps copies of the files a run changes, for restore_machine.
save_machine() {
  local machine="$1"
  rm -rf "$machine/SAVED"
  mkdir -p "$machine/SAVED"
  cp -p "$machine/WINDOWS/TAVRO.INI" "$machine/SAVED/WINDOWS.INI"
  cp -p "$machine/TAVRO/TAVRO.INI" "$machine/SAVED/TAVRO.INI"
  [ -f "$machine/WINDOWS/REGISTRY.REG" ] && cp -p "$machine/WINDOWS/REGISTRY.REG" "$machine/SAVED/"
  [ -d "$machine/TAVRO/INI" ] && cp -rp "$machine/TAVRO/INI" "$machine/SAVED/INI"
  return 0
}

restore_machine() {
  local machine="$1"
  cp -p "$machine/SAVED/WINDOWS.INI" "$machine/WINDOWS/TAVRO.INI"
  cp -p "$machine/SAVED/TAVRO.INI" "$machine/TAVRO/TAVRO.INI"
  rm -f "$machine/WINDOWS/REGISTRY.REG" "$machine/WINDOWS/PENDMOVE.TXT"
  [ -f "$machine/SAVED/REGISTRY.REG" ] && cp -p "$machine/SAVED/REGISTRY.REG" "$machine/WINDOWS/"
  if [ -d "$machine/SAVED/INI" ]; then
    rm -rf "$machine/TAVRO/INI"
    cp -rp "$machine/SAVED/INI" "$machine/TAVRO/INI"
  fi
  return 0
}

# Runs a command in the patch directory of $2 with the machine's environment,
# as the installer is run; its output and exit code do not matter here.
run_in_patch() {
  local machine="$1" program="$2"
  shift 2
  (cd "$machine/PATCH-$program" &&
    exec env -u TVPAT_REGISTRY -u TVPAT_WINVER ${BENCH_WINVER:+TVPAT_WINVER="$BENCH_WINVER"} \
      WINDIR="$machine/WINDOWS" TEMP="$machine/TEMP" "$@" >/dev/null 2>&1) || true
}

# Runs a program the way the installer is run (in the patch directory, with
# the machine's environment) and prints the elapsed microseconds and the
# processor time (user and system) it took, in microseconds too. Processor
# time shows the program's own work apart from the waits for the disk.
run_timed() {
  local machine="$1" program="$2" start end TIMEFORMAT='%3U %3S'
  shift 2
  start="$(now_us)"
  { time run_in_patch "$machine" "$program" "$@"; } 2>"$work/cpu-time"
  end="$(now_us)"
  echo "$((end - start)) $(awk '{ printf "%d", ($1 + $2) * 1000000 }' "$work/cpu-time")"
}

declare -a rows=()
# Each installer's median of the workload measure timed last.
declare -A last_median=()

# Times the installers of $programs and, when $baseline_command is set, the
# baseline, in $rounds interleaved rounds; reset_workload puts the machine
# back before every run. Adds one row to the table.
measure() {
  local machine="$1" label="$2" baseline_label="$3" program round
  declare -A times=() cpu=()
  # One run of each before the rounds warms the page cache.
  for round in $(seq 0 "$rounds"); do
    for program in "${programs[@]}"; do
      reset_workload "$machine"
      local took
      took="$(run_timed "$machine" "$program" ./tvpat32)"
      if [ "$round" -gt 0 ]; then
        times[$program]+="${took% *} "
        cpu[$program]+="${took#* } "
      fi
    done
    if [ -n "$baseline_label" ]; then
      reset_workload "$machine"
      local start end
      start="$(now_us)"
      run_baseline "$machine"
      end="$(now_us)"
      [ "$round" -gt 0 ] && times[baseline]+="$((end - start)) "
    fi
  done
  local row="| $label |" baseline=""
  for program in "${programs[@]}"; do
    # shellcheck disable=SC2086
    last_median[$program]="$(median ${times[$program]})"
  done
  for program in "${programs[@]}"; do
    # shellcheck disable=SC2086
    row+=" $(ms "$(median ${times[$program]})") ms (cpu $(ms "$(median ${cpu[$program]})")) |"
  done
  if [ -n "$baseline_label" ]; then
    # shellcheck disable=SC2086
    baseline="$(median ${times[baseline]})"
    row+=" $baseline_label $(ms "$baseline") ms |"
    for program in "${programs[@]}"; do
      # shellcheck disable=SC2086
      row+=" $(awk -v a="$(median ${times[$program]})" -v b="$baseline" \
        'BEGIN { printf "%.2fx", a / b }') |"
    done
  else
    row+=" - |"
    for program in "${programs[@]}"; do row+=" - |"; done
  fi
  rows+=("$row")
  echo "$row" >&2
}

# Times the function named $3 alone, as measure times a baseline, for a row
# with another baseline of the workload measured last. With $4 = ratio the
# row compares each installer's median of that workload with it; without,
# it only shows what the baseline costs.
measure_alone() {
  local machine="$1" label="$2" run="$3" with_ratio="${4:-}" round start end program samples=""
  for round in $(seq 0 "$rounds"); do
    reset_workload "$machine"
    start="$(now_us)"
    "$run" "$machine"
    end="$(now_us)"
    [ "$round" -gt 0 ] && samples+="$((end - start)) "
  done
  local baseline row="| $label |"
  # shellcheck disable=SC2086
  baseline="$(median $samples)"
  for program in "${programs[@]}"; do row+=" - |"; done
  row+=" $(ms "$baseline") ms |"
  for program in "${programs[@]}"; do
    if [ "$with_ratio" = ratio ]; then
      row+=" $(awk -v a="${last_median[$program]}" -v b="$baseline" \
        'BEGIN { printf "%.2fx", a / b }') |"
    else
      row+=" - |"
    fi
  done
  rows+=("$row")
  echo "$row" >&2
}

# The FILE patch: 256 files of 1 MiB into the directory DEST of the product.
file_profile() {
  printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\nBackup=0\r\n\r\n[Work]\r\n'
  for i in $(seq -w 1 256); do printf 'FILE%s=TAVRO,F%s.BIN,DEST\r\n' "$i" "$i"; done
}

file_payload() {
  for i in $(seq -w 1 256); do head -c 1048576 /dev/urandom >"$1/F$i.BIN"; done
  touch -d '2002-06-01 12:00:00' "$1"/*.BIN
}

# FILE entries: 256 files of 1 MiB into an empty directory. Baseline: cp -p
# of the same files, then a flush of each copy.
if selected file; then
  machine="$work/file"
  file_profile | make_machine "$machine"
  file_payload "$machine/PAYLOAD"
  link_payload "$machine"
  mkdir -p "$machine/TAVRO/DEST"
  save_machine "$machine"
  reset_workload() {
    restore_machine "$1"
    rm -rf "$1/TAVRO/DEST"
    mkdir -p "$1/TAVRO/DEST"
  }
  run_baseline() {
    cp -p "$1"/PAYLOAD/*.BIN "$1/TAVRO/DEST/"
    sync "$1"/TAVRO/DEST/*.BIN
  }
  measure "$machine" "FILE entries, 256 files of 1 MiB into an empty tree" "cp -p + sync"
  run_unflushed() { cp -p "$1"/PAYLOAD/*.BIN "$1/TAVRO/DEST/"; }
  measure_alone "$machine" "the same copy without the flush: cp -p alone" run_unflushed
  run_durable() { "$durable_copy" -t "$1/TAVRO/DEST" "$1"/PAYLOAD/*.BIN; }
  measure_alone "$machine" "the same copy, each file staged and renamed into place" run_durable ratio
fi

# FINDFILE over a tree of 20,200 directories, 2,000 of which hold an older
# copy of the file, which the installer keeps as LANG.OLD (a file that is
# there and not backed up would wait for the restart). Baseline: find -iname,
# then each hit overwritten with the patch's file, its time set and a flush
# of it; it keeps no backup.
if selected findfile; then
  machine="$work/findfile"
  printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\nBackup=1\r\n\r\n[Work]\r\nFINDFILE1=TAVRO,LANG.TBL,TREE\r\n' |
    make_machine "$machine"
  head -c 4096 /dev/urandom >"$machine/PAYLOAD/LANG.TBL"
  touch -d '2002-06-01 12:00:00' "$machine/PAYLOAD/LANG.TBL"
  link_payload "$machine"
  mkdir -p "$machine/TAVRO/TREE"
  (cd "$machine/TAVRO/TREE" && for d in $(seq -w 0 199); do
    mkdir -p "D$d" && (cd "D$d" && mkdir e{00..99})
    for e in 00 10 20 30 40 50 60 70 80 90; do
      # Every other hit in another case, which FINDFILE matches too.
      if [ $((10#$e % 20)) -eq 0 ]; then name=LANG.TBL; else name=lang.tbl; fi
      head -c 2048 /dev/zero >"D$d/e$e/$name"
    done
  done)
  save_machine "$machine"
  reset_workload() {
    restore_machine "$1"
    find "$1/TAVRO/TREE" -iname LANG.OLD -delete
    find "$1/TAVRO/TREE" -iname LANG.TBL -exec touch -d '2001-03-01 12:00:00' {} +
  }
  run_baseline() {
    local source="$1/PAYLOAD/LANG.TBL"
    find "$1/TAVRO/TREE" -iname LANG.TBL -print0 |
      xargs -0 sh -c 'tee "$@" <"$0" >/dev/null && touch -r "$0" "$@" && sync "$@"' "$source"
  }
  measure "$machine" "FINDFILE over 20,200 directories, 2,000 hits" "find -iname + copy + sync"
  run_durable() {
    find "$1/TAVRO/TREE" -iname LANG.TBL -print0 |
      xargs -0 "$durable_copy" -b "$1/PAYLOAD/LANG.TBL"
  }
  measure_alone "$machine" "the same hits, each staged, kept as LANG.OLD and renamed into place" \
    run_durable ratio
  # The walk alone: the same tree searched for a name that no directory
  # holds. The profile is rewritten in place, so the patch directories' links
  # to it see the change.
  printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\nFINDFILE1=TAVRO,NONE.TBL,TREE\r\n' \
    >"$machine/PAYLOAD/TVPAT32.DAT"
  run_baseline() { find "$1/TAVRO/TREE" -iname NONE.TBL; }
  measure "$machine" "FINDFILE over the same tree, no hit: the walk alone" "find -iname"
fi

# INI entries: 1,000 and 2,000 values over 20 files, each entry a save.
if selected ini; then
  for count in 1000 2000; do
    machine="$work/ini$count"
    {
      printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\n'
      for i in $(seq 1 "$count"); do
        printf 'INI%d=TAVRO,INI\\\\APP%02d.INI,Section%d,Key%d,value %d\r\n' \
          "$i" $((i % 20)) $((i % 7)) "$i" "$i"
      done
    } | make_machine "$machine"
    link_payload "$machine"
    mkdir -p "$machine/TAVRO/INI"
    for f in $(seq -w 0 19); do printf '[Section0]\r\nOld=1\r\n' >"$machine/TAVRO/INI/APP$f.INI"; done
    save_machine "$machine"
    reset_workload() { restore_machine "$1"; }
    measure "$machine" "$count INI entries over 20 files" ""
  done
fi

# REG entries: 1,000 and 2,000 values under 50 keys.
if selected reg; then
  for count in 1000 2000; do
    machine="$work/reg$count"
    {
      printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\n'
      for i in $(seq 1 "$count"); do
        printf 'REG%d=HKCU,Software\\\\Bench\\\\Key%02d,Value%d,data %d\r\n' "$i" $((i % 50)) "$i" "$i"
      done
    } | make_machine "$machine"
    link_payload "$machine"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n' >"$machine/WINDOWS/REGISTRY.REG"
    save_machine "$machine"
    reset_workload() { restore_machine "$1"; }
    measure "$machine" "$count REG entries under 50 keys" ""
  done
fi

# The example patch (examples/driver-update) on its own machine: every entry
# kind, backups, a file in use that waits for the restart, the registry. Its
# reboot program is not started: nothing names a command interpreter here.
if selected example; then
  machine="$work/example"
  sed 's/^Reboot Program=.*/Reboot Program=/' examples/driver-update/patch/TVPAT32.DAT |
    make_machine "$machine"
  find examples/driver-update/patch -maxdepth 1 -type f ! -name 'TVPAT32.*' \
    -exec cp -t "$machine/PAYLOAD" {} +
  touch -d '2002-06-01 12:00:00' "$machine"/PAYLOAD/*
  link_payload "$machine"
  cp -r examples/driver-update/machine/TAVRO/. "$machine/TAVRO/"
  cp examples/driver-update/machine/WINDOWS/REGISTRY.REG "$machine/WINDOWS/"
  find "$machine/TAVRO" -type f ! -name TAVRO.INI -exec touch -d '2001-03-01 12:00:00' {} +
  rm -rf "$machine/SAVED-TREE"
  cp -rp "$machine/TAVRO" "$machine/SAVED-TREE"
  save_machine "$machine"
  reset_workload() {
    restore_machine "$1"
    rm -rf "$1/TAVRO" "$1/WINDOWS/WININIT.INI"
    cp -rp "$1/SAVED-TREE" "$1/TAVRO"
  }
  measure "$machine" "the example patch (driver-update)" ""
fi

# A ledger of 1,000 installed patches that the new one joins: one INI entry.
if selected ledger; then
  machine="$work/ledger"
  printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\nINI1=TAVRO,TAVRO.INI,Version,Fixed,1\r\n' |
    make_machine "$machine"
  link_payload "$machine"
  {
    printf '[Tavro]\r\nroot=%s\r\n\r\n[Patch]\r\nInteractive=0\r\n\r\n[Install]\r\n' "$machine/TAVRO"
    for i in $(seq 0 999); do printf 'Patch%d=FIX%04d\r\n' "$i" "$i"; done
  } >"$machine/WINDOWS/TAVRO.INI"
  save_machine "$machine"
  reset_workload() { restore_machine "$1"; }
  measure "$machine" "a ledger of 1,000 installed patches, one INI entry" ""
fi

# An installation profile of 10,000 entries, each an ERASE of a file that is
# not there: the cost of reading and dispatching entries.
if selected profile; then
  machine="$work/profile"
  {
    printf '[Patch]\r\nPatch=BENCH\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\n'
    for i in $(seq 1 10000); do printf 'ERASE%d=TAVRO,BIN\\\\GONE%d.DLL,0\r\n' "$i" "$i"; done
  } | make_machine "$machine"
  link_payload "$machine"
  mkdir -p "$machine/TAVRO/BIN"
  save_machine "$machine"
  reset_workload() { restore_machine "$1"; }
  measure "$machine" "a profile of 10,000 entries (ERASE of absent files)" ""
fi

# A run whose patch is in the ledger already: it ends at once with exit code 1.
if selected noop; then
  machine="$work/noop"
  printf '[Patch]\r\nPatch=OLD\r\nCondition0=Work,2,0,Version,Level,2.0\r\n\r\n[Work]\r\n' |
    make_machine "$machine"
  link_payload "$machine"
  save_machine "$machine"
  reset_workload() { restore_machine "$1"; }
  run_baseline() { run_in_patch "$1" current /bin/true; }
  measure "$machine" "a run whose patch is installed already" "/bin/true"
fi

# Under Wine, in a prefix of its own: the Windows installer TVPAT32.EXE
# with the FILE patch, unsealed and sealed, beside an NSIS installer of the
# same files, stored, with its CRC check of itself and without. Each run
# starts its program with `wine` in a warm server, as a user would, and
# installs into an empty directory. Besides the program's own processor
# time, the table gives the server's: under Wine each call on a file is a
# request to it.
declare -a wine_rows=()
if selected wine; then
  machine="$work/wine"
  export WINEPREFIX="$work/wine-prefix" WINEDEBUG=-all
  # Without these the first start offers to install Mono and Gecko.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  echo "Making the Wine prefix" >&2
  wine wineboot -i >/dev/null 2>&1
  # The server wineboot started goes first; ours stays until the end.
  wineserver -w
  wineserver -f -p >/dev/null 2>&1 &
  wine_server=$!
  windows="$WINEPREFIX/drive_c/windows"
  winpath() { local path="$1"; echo "Z:${path//\//\\}"; }

  mkdir -p "$machine/TAVRO/DEST" "$machine/PAYLOAD" "$machine/NSIS"
  file_profile >"$machine/PAYLOAD/TVPAT32.DAT"
  file_payload "$machine/PAYLOAD"
  printf '[Tavro]\r\nroot=%s\r\n\r\n[Patch]\r\nInteractive=0\r\n\r\n[Install]\r\nPatch0=OLD\r\n' \
    "$(winpath "$machine/TAVRO")" >"$machine/WINDOWS.INI"
  printf '[Version]\r\nLevel=2.0\r\n' >"$machine/TAVRO.INI"
  variants=(unsealed)
  for variant in unsealed sealed; do
    mkdir -p "$machine/PATCH-$variant"
    ln -f -t "$machine/PATCH-$variant" "$machine"/PAYLOAD/*
    cp build/bench-win32/tvpat32.exe "$machine/PATCH-$variant/TVPAT32.EXE"
    cp catalogue/TVPAT32.MSG "$machine/PATCH-$variant/"
  done
  if (cd "$machine/PATCH-sealed" && "$top/build/bench/tvpcheck" --seal TVPAT32.DAT >/dev/null 2>&1) &&
    [ -f "$machine/PATCH-sealed/TVPAT32.SUM" ]; then
    variants+=(sealed)
  else
    echo "tvpcheck --seal made no TVPAT32.SUM here: the sealed row is left out" >&2
  fi
  echo "Building the NSIS installer" >&2
  makensis -V2 -DPAYLOAD="$machine/PAYLOAD" -DOUTFILE="$machine/NSIS.EXE" bench/nsis/files.nsi >&2
  variants+=(nsis nsis-ncrc)

  reset_wine() {
    cp "$machine/WINDOWS.INI" "$windows/TAVRO.INI"
    cp "$machine/TAVRO.INI" "$machine/TAVRO/TAVRO.INI"
    rm -rf "$machine/TAVRO/DEST" "$machine/NSIS"
    mkdir "$machine/TAVRO/DEST" "$machine/NSIS"
  }
  # Runs one variant; prints its exit code.
  run_wine() {
    local status=0
    case "$1" in
      unsealed | sealed) (cd "$machine/PATCH-$1" && exec wine TVPAT32.EXE) || status=$? ;;
      nsis) (cd "$machine" && exec wine NSIS.EXE /S "/D=$(winpath "$machine/NSIS")") || status=$? ;;
      nsis-ncrc)
        (cd "$machine" && exec wine NSIS.EXE /S /NCRC "/D=$(winpath "$machine/NSIS")") || status=$?
        ;;
    esac >/dev/null 2>&1
    echo "$status"
  }
  # The processor time the server has taken, in microseconds.
  server_us() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%d", ($14 + $15) * 1000000 / hz }' \
      "/proc/$wine_server/stat"
  }
  # A run that did not install the files would time nothing worth knowing:
  # the first round checks every variant's result.
  check_wine() {
    local variant="$1" status="$2" destination="$machine/NSIS" file
    case "$variant" in unsealed | sealed) destination="$machine/TAVRO/DEST" ;; esac
    if [ "$status" -ne 0 ]; then
      echo "wine: $variant ended with exit code $status" >&2
      return 1
    fi
    for file in "$machine"/PAYLOAD/*.BIN; do
      if ! cmp -s "$file" "$destination/${file##*/}"; then
        echo "wine: $variant did not install ${file##*/}" >&2
        return 1
      fi
    done
    if [ "$destination" = "$machine/TAVRO/DEST" ] && ! grep -q '^Patch1=BENCH' "$windows/TAVRO.INI"; then
      echo "wine: $variant did not record the patch" >&2
      return 1
    fi
  }

  declare -A wine_times=() wine_cpu=() wine_server_cpu=()
  TIMEFORMAT='%3U %3S'
  for round in $(seq 0 "$rounds"); do
    for variant in "${variants[@]}"; do
      reset_wine
      server_start="$(server_us)"
      start="$(now_us)"
      { time status="$(run_wine "$variant")"; } 2>"$work/cpu-time"
      end="$(now_us)"
      server_end="$(server_us)"
      if [ "$round" -eq 0 ]; then
        check_wine "$variant" "$status" || exit 1
        continue
      fi
      wine_times[$variant]+="$((end - start)) "
      wine_cpu[$variant]+="$(awk '{ printf "%d", ($1 + $2) * 1000000 }' "$work/cpu-time") "
      wine_server_cpu[$variant]+="$((server_end - server_start)) "
    done
    if ! kill -0 "$wine_server" 2>/dev/null; then
      echo "wine: the Wine server of the prefix is gone" >&2
      exit 1
    fi
  done
  unset TIMEFORMAT

  declare -A wine_median=() wine_label=(
    [unsealed]="TVPAT32.EXE, unsealed"
    [sealed]="TVPAT32.EXE, sealed (TVPAT32.SUM checked first)"
    [nsis]="NSIS, stored, its CRC check on (/S)"
    [nsis-ncrc]="NSIS, stored, its CRC check off (/S /NCRC)")
  for variant in "${variants[@]}"; do
    # shellcheck disable=SC2086
    wine_median[$variant]="$(median ${wine_times[$variant]})"
  done
  # The ratio of variant $1's median to $2's, or - for none.
  wine_ratio() {
    if [ "$1" = "$2" ] || [ -z "${wine_median[$1]:-}" ] || [ -z "${wine_median[$2]:-}" ] ||
      [[ "$1" == nsis* && "$2" == unsealed ]]; then
      echo "-"
    else
      awk -v a="${wine_median[$1]}" -v b="${wine_median[$2]}" 'BEGIN { printf "%.2fx", a / b }'
    fi
  }
  for variant in "${variants[@]}"; do
    # shellcheck disable=SC2086
    row="| ${wine_label[$variant]} | $(ms "${wine_median[$variant]}") ms |\
 $(ms "$(median ${wine_cpu[$variant]})") + $(ms "$(median ${wine_server_cpu[$variant]})") ms |\
 $(wine_ratio "$variant" unsealed) | $(wine_ratio "$variant" nsis) | $(wine_ratio "$variant" nsis-ncrc) |"
    wine_rows+=("$row")
    echo "$row" >&2
  done
fi

header="| workload |"
rule="|---|"
for program in "${programs[@]}"; do
  header+=" tvpat32 ($program) |"
  rule+="---|"
done
header+=" baseline |"
rule+="---|"
for program in "${programs[@]}"; do
  header+=" ratio ($program) |"
  rule+="---|"
done

echo
echo "Medians of $rounds rounds; load average $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end, $(nproc) cores."
if [ "${#rows[@]}" -gt 0 ]; then
  echo
  echo "$header"
  echo "$rule"
  printf '%s\n' "${rows[@]}"
fi
if [ "${#wine_rows[@]}" -gt 0 ]; then
  echo
  echo "| under Wine, 256 files of 1 MiB into an empty tree | elapsed | cpu: program + wineserver | ratio to unsealed | ratio to NSIS, CRC on | ratio to NSIS, CRC off |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${wine_rows[@]}"
fi

if [ "$micro" -eq 1 ]; then
  echo
  build/bench/tvpat_bench --benchmark_min_time=0.2
fi
