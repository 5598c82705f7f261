# The Windows flavour: cross-build with mingw-w64, run the tests under Wine.
set -euo pipefail
source scripts/lib/xserver.sh
scripts/build.sh win
start_xvfb 1280x800x24
export DRAVNOK_WINEPREFIX="${DRAVNOK_WINEPREFIX:-$HOME/.cache/dravnok/wineprefix}"
mkdir -p "$DRAVNOK_WINEPREFIX"
export WINEPREFIX="$DRAVNOK_WINEPREFIX"
# One wine server for the whole run keeps each program start short.
wineserver -k 2>/dev/null || true
wineserver -p 600
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true; kill $XVFB_PID 2>/dev/null || true' EXIT
ctest --test-dir build/win --output-on-failure
