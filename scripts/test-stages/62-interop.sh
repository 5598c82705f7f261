# WebRTC stacks that nobody here wrote, as viewers: aiortc drives
# remote-helper over its standard input and output (one of the Linux
# stage's tests too; run again here for its figures), and Firefox ESR, over
# WebDriver BiDi, uses the viewer page that remote-agent serves.
set -euo pipefail
scripts/build.sh linux
ctest --test-dir build/linux -R '^aiortc_viewer$' --output-on-failure --verbose
cd tests/browser
[ -d node_modules/puppeteer-core ] || npm ci --no-audit --no-fund --silent
DRAVNOK_BUILD_DIR="$PWD/../../build/linux" node --test --test-concurrency=1 firefox/
