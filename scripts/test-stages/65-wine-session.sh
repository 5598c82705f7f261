# The Windows release folder in a whole session under Wine: remote-agent.exe
# copied alone with its two programs, viewed by Chromium on Linux (both
# flavours built by earlier stages).
set -euo pipefail
scripts/build.sh win
scripts/build.sh linux
cd tests/browser
[ -d node_modules ] || npm ci --no-audit --no-fund --silent
DRAVNOK_BUILD_DIR="$PWD/../../build/linux" DRAVNOK_WIN_BUILD_DIR="$PWD/../../build/win" \
  node --test --test-concurrency=1 wine/
