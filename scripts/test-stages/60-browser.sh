# Chromium as the viewer of remote-helper and remote-agent, driven by playwright-core.
set -euo pipefail
command -v npm >/dev/null || {
  [ "$(id -u)" = 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive ${sudo:-} apt-get install -y -qq --no-install-recommends npm >/dev/null
}
scripts/build.sh linux
cd tests/browser
npm ci --no-audit --no-fund --silent
DRAVNOK_BUILD_DIR="$PWD/../../build/linux" node --test --test-concurrency=1 tests/
