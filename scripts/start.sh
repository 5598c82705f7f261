#!/usr/bin/env bash
# Installs what is missing, builds, and runs remote-helper in its normal
# mode: it reads the agent's JSON commands on standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
mapfile -t packages < <(package_list build)
ensure_packages "${packages[@]}"
scripts/build.sh linux >&2
exec build/linux/src/host/remote-helper "$@"
