#!/usr/bin/env bash
# End-to-end benchmark on a private 1920x1080 Xvfb: latency, frame rate,
# bitrate and CPU of a viewed session for four kinds of screen content,
# beside FFmpeg's grab-and-encode baseline. Prints one table.
#   bench/e2e.sh [--seconds N] [--warmup N] [--contents static,typing,scrolling,motion] [--no-baseline] [--json FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
mapfile -t packages < <(package_list build; package_list bench)
ensure_packages "${packages[@]}"
command -v npm >/dev/null || ensure_packages npm
scripts/build.sh linux >/dev/null
cmake --build build/linux --target screen_content >/dev/null
(cd tests/browser && [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --silent)

source scripts/lib/xserver.sh
start_xvfb 1920x1080x24
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
node bench/e2e.js "$@"
