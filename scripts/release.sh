#!/usr/bin/env bash
# Builds the two release kits in Release from HEAD as committed: an export of
# HEAD (git archive) into a temporary directory, so that work not yet
# committed never ships. The Windows kit (tvpat32-VERSION-win32.zip, built
# with mingw-w64) holds the installer, its catalogue, the profile checker,
# the guide and the example patches; the Linux kit
# (tvpat32-VERSION-linux.tar.gz) the Linux programs for authors' CI. Checks
# the Windows programs' imports (scripts/check-imports.sh), copies both kits
# to the output directory and prints each one's path and SHA-256.
# Installs what is missing on a Debian machine first.
#
#   scripts/release.sh [OUTPUT_DIR]
#
# OUTPUT_DIR defaults to dist/ in the repository (ignored by git). The
# version is the one project() gives in CMakeLists.txt. JOBS sets how many
# compilers run at once (default: one a processor).
set -euo pipefail

output="${1:-$(dirname "$0")/../dist}"
mkdir -p "$output"
output="$(cd "$output" && pwd)"
cd "$(dirname "$0")/.."
. scripts/packages.sh

ensure_packages cmake make g++ libgtest-dev mingw-w64
work="$(mktemp -d -t tvpat-release.XXXXXX)"
trap 'rm -rf "$work"' EXIT

git rev-parse --verify -q HEAD >/dev/null
mkdir "$work/source"
git archive --format=tar HEAD | tar -x -C "$work/source"
echo "Building the kits of $(git rev-parse --short HEAD)"

# The package target builds only what the kits hold: the tests and the
# nested Windows build of the native build are left out.
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
cmake -S "$work/source" -B "$work/linux" -DCMAKE_BUILD_TYPE=Release -DTVPAT_WERROR=ON \
  -DTVPAT_WITH_WIN32=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$work/linux" --target tvpat32 tvpcheck tvprestart -j"$jobs"
cmake --build "$work/linux" --target package
cmake -S "$work/source" -B "$work/win32" -DCMAKE_BUILD_TYPE=Release -DTVPAT_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/mingw-i686.cmake" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$work/win32" --target tvpat32 tvpcheck -j"$jobs"
# The release build is optimised otherwise than the one the tests ran.
bash "$work/source/scripts/check-imports.sh" "$work/win32/tvpat32.exe" "$work/win32/tvpcheck.exe"
cmake --build "$work/win32" --target package

echo
for archive in "$work"/linux/tvpat32-*-linux.tar.gz "$work"/win32/tvpat32-*-win32.zip; do
  cp "$archive" "$output/"
  sha256sum "$output/${archive##*/}"
done
