#!/usr/bin/env bash
# Builds both programs (Linux and 32-bit Windows) and runs every test: the
# check that the Windows programs import only what Windows 95 and Windows NT
# 4.0 export (scripts/check-imports.sh), the unit tests, the end-to-end tests
# of the Linux build and, under Wine, those of the Windows build, once as a
# current Windows and once as Windows 95 and NT 4.0. Installs what is missing
# on a Debian machine first.
set -euo pipefail

cd "$(dirname "$0")/.."
. scripts/packages.sh

ensure_packages cmake make g++ libgtest-dev mingw-w64 wine wine32:i386

jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B build -DTVPAT_WERROR=ON -DTVPAT_WITH_WIN32=ON
cmake --build build -j"$jobs"
bash scripts/check-imports.sh build/win32
ctest --test-dir build --output-on-failure
