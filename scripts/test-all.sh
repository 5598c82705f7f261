#!/usr/bin/env bash
# The whole test suite: installs what a fresh Debian 12 machine lacks, checks
# the format, builds and tests the Linux flavour, then builds the Windows
# flavour and runs its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/xserver.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
started=$(date +%s)

scripts/check-format.sh

echo "== Linux build and tests"
scripts/build.sh linux
ctest --test-dir build/linux --output-on-failure -j2

echo "== Windows build and tests under Wine"
scripts/build.sh win
start_xvfb 1280x800x24
export DRAVNOK_WINEPREFIX="${DRAVNOK_WINEPREFIX:-$HOME/.cache/dravnok/wineprefix}"
mkdir -p "$DRAVNOK_WINEPREFIX"
# One wine server for the whole run keeps each program start short.
WINEPREFIX="$DRAVNOK_WINEPREFIX" wineserver -k 2>/dev/null || true
WINEPREFIX="$DRAVNOK_WINEPREFIX" wineserver -p 600
WINEPREFIX="$DRAVNOK_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
ctest --test-dir build/win --output-on-failure
WINEPREFIX="$DRAVNOK_WINEPREFIX" wineserver -k || true

echo "== all tests passed in $(($(date +%s) - started)) s"
