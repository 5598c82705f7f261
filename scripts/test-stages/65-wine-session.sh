# The Windows remote-helper.exe in a whole session under Wine, viewed by
# Chromium through the Linux remote-agent (both built by earlier stages).
set -euo pipefail
scripts/build.sh win
scripts/build.sh linux
cd tests/browser
[ -d node_modules ] || npm ci --no-audit --no-fund --silent
DRAVNOK_BUILD_DIR="$PWD/../../build/linux" DRAVNOK_WIN_BUILD_DIR="$PWD/../../build/win" \
  node --test --test-concurrency=1 wine/
