#!/usr/bin/env bash
# Checks the bundled example patch (examples/driver-update/) with tvpcheck,
# shows its dry run on a scratch machine in a temporary directory, then
# applies it there and shows what it changed: first what the installer did
# at once, then what the simulated restart (tvprestart) did with the steps
# that had to wait. Installs what is missing on a Debian machine and builds
# the Linux programs first.
#
# The scratch machine is kept for a look afterwards; its path is printed at
# the end. TVPAT_WINVER=0xC0000A04 in the environment plays the Windows 95
# family instead of Windows NT (deferred steps then go to WININIT.INI);
# BUILD_DIR chooses the build directory (default: build).
set -euo pipefail

cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
. scripts/packages.sh

section() { printf '\n==== %s\n\n' "$*"; }

ensure_packages cmake make g++ libgtest-dev

section "Building tvpat32, tvpcheck and tvprestart"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target tvpat32 tvpcheck tvprestart -j"$(nproc 2>/dev/null || echo 2)"

work="$(mktemp -d -t tvpat-demo.XXXXXX)"
machine="$work/machine"
windows="$machine/WINDOWS"
root="$machine/TAVRO"
patch="$machine/PATCH"

# The machine before the patch: a Windows directory whose TAVRO.INI names the
# product root, and the installed product. INI and registry files on Windows
# end their lines with CR LF, so the copies here do too.
mkdir -p "$machine" "$work/temp"
cp -r examples/driver-update/machine/. "$machine/"
printf '[Tavro]\r\nroot=%s\r\n\r\n[Patch]\r\nInteractive=1\r\n' "$root" >"$windows/TAVRO.INI"
sed -i 's/\r*$/\r/' "$root/TAVRO.INI" "$root/CONFIG/VIEWER.INI" "$windows/REGISTRY.REG"
# The patch directory: the program, its catalogue, the installation profile
# and the patch's files side by side.
mkdir -p "$patch"
cp examples/driver-update/patch/* "$patch/"
cp "$build/tvpat32" "$patch/tvpat32"
cp catalogue/TVPAT32.MSG "$patch/TVPAT32.MSG"
# Installed files are older than the patch's, so the patch replaces them.
find "$machine/TAVRO" -type f -exec touch -d '2001-03-01 12:00:00' {} +
find "$patch" -type f ! -name tvpat32 -exec touch -d '2002-06-01 12:00:00' {} +

listing() {
  (cd "$1" && find . -type f -printf '%-34p %6s bytes  %TY-%Tm-%Td %TH:%TM\n' | sort)
}

# The reboot program is a batch file, which Windows hands to its command
# interpreter as "COMSPEC /c FILE"; here a shell stands in for it.
printf '#!/bin/sh\nshift\nexec sh "$@"\n' >"$work/command.sh"
chmod +x "$work/command.sh"

cp -a "$machine" "$work/before"

section "Checking the patch: tvpcheck --plan TVPAT32.DAT   (in $patch)"
check_status=0
checker="$(cd "$build" && pwd)/tvpcheck"
(cd "$patch" && env -u TVPAT_REGISTRY WINDIR="$windows" "$checker" --plan TVPAT32.DAT) || check_status=$?
printf '\n(exit code %d; the dry run changed nothing)\n' "$check_status"

section "Running: tvpat32 -d   (in $patch)"
status=0
(cd "$patch" && env -u TVPAT_REGISTRY WINDIR="$windows" TEMP="$work/temp" COMSPEC="$work/command.sh" \
  ./tvpat32 -d) || status=$?
printf '\n(exit code %d)\n' "$status"
cp -a "$machine" "$work/after-run"

# Every file, marked "-" when the run removed or changed it and "+" as it is
# after the run.
marks=(--unchanged-line-format='  %L' --old-line-format='- %L' --new-line-format='+ %L')

section "Files before and after the run (- before, + after)"
diff "${marks[@]}" <(listing "$work/before") <(listing "$work/after-run") || true

# The log holds the same text as the console above, so it is left out here.
section "What changed in the files: diff -ruN before after-run"
(cd "$work" && diff -ruN -x TVPAT32.LOG before after-run) || true

section "Steps waiting for the next restart"
shown=0
for file in "$windows/PENDMOVE.TXT" "$windows/WININIT.INI"; do
  if [ -f "$file" ]; then
    printf -- '--- %s\n' "${file#"$work"/}"
    cat "$file"
    shown=1
  fi
done
[ "$shown" -eq 1 ] || echo "(none)"

section "Restarting: tvprestart carries out the waiting steps"
restart_status=0
env WINDIR="$windows" "$build/tvprestart" || restart_status=$?
printf '\n(exit code %d)\n' "$restart_status"

section "Files after the run and after the restart (- after the run, + now)"
diff "${marks[@]}" <(listing "$work/after-run") <(listing "$machine") || true

section "What the restart changed: diff -ruN after-run machine"
(cd "$work" && diff -ruN -x TVPAT32.LOG after-run machine) || true

section "Done"
echo "The scratch machine is kept in $work:"
echo "  before/     the machine before the run"
echo "  after-run/  the machine right after tvpat32"
echo "  machine/    the machine now, after the restart"
echo "Remove it with: rm -rf $work"
