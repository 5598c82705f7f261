#!/usr/bin/env bash
# Network faults between remote-helper and Chromium in two network
# namespaces joined through a user-space bridge (this kernel has no netem):
# a 2 Mbit/s bottleneck, 5 % loss with delay,
# a 5 s cut, and a TURN-only path. Slow (about 3 minutes); prints figures.
#   bench/netfault/run.sh (as root) [bottleneck|loss|cut|turn ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
[ "$(id -u)" = 0 ] || { echo "run as root (ip netns, tc)" >&2; exit 2; }
scripts/build.sh linux >/dev/null
(cd tests/browser && [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --silent)
exec node bench/netfault/netfault.js "$@"
