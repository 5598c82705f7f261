#!/usr/bin/env bash
# Load on a live session (input flood, 50 MiB clipboard, 100 000-entry folder,
# 4 GiB download); prints figures, takes a long while. Not part of the suite.
#   bench/load/run.sh [input|clipboard|folder|download ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/build.sh linux >/dev/null
(cd tests/browser && [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --silent)
exec node bench/load/load.js "$@"
