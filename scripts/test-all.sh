#!/usr/bin/env bash
# The whole test suite: installs what a fresh Debian 12 machine lacks, then
# runs every stage in scripts/test-stages in order (format, Linux build and
# tests, Windows build and tests under Wine, ...). Stops at the first stage
# that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
mapfile -t packages < <(package_list build; package_list test)
ensure_packages "${packages[@]}"

started=$(date +%s)
for stage in scripts/test-stages/*.sh; do
  echo "== $(basename "$stage" .sh)"
  stage_start=$(date +%s)
  bash "$stage"
  echo "== $(basename "$stage" .sh): ok in $(($(date +%s) - stage_start)) s"
done
echo "== all stages passed in $(($(date +%s) - started)) s"
