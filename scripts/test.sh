#!/usr/bin/env bash
# Builds both programs (Linux and 32-bit Windows) and runs every test: the
# unit tests, the end-to-end tests of the Linux build and, under Wine, those
# of the Windows build. Installs what is missing on a Debian machine first.
set -euo pipefail

cd "$(dirname "$0")/.."
. scripts/packages.sh

ensure_packages cmake make g++ libgtest-dev mingw-w64 wine wine32:i386

jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B build -DTVPAT_WERROR=ON -DTVPAT_WITH_WIN32=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure
