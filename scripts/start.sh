#!/usr/bin/env bash
# Installs what is missing, builds, and runs remote-helper in its normal
# mode: it reads the agent's JSON commands on standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"
scripts/build.sh linux >&2
exec build/linux/src/host/remote-helper "$@"
