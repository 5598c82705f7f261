#!/usr/bin/env bash
# Configures (once) and builds one flavour: linux (default) or win; all of
# it, or only the targets named in DRAVNOK_TARGETS.
set -euo pipefail
cd "$(dirname "$0")/.."
flavour="${1:-linux}"
shift || true
case "$flavour" in
linux) extra=() ;;
win) extra=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) ;;
*)
  echo "usage: scripts/build.sh [linux|win] [cmake options...]" >&2
  exit 2
  ;;
esac
dir="build/$flavour"
# Let ccache share objects between checkouts of the tree (CI's fresh clone
# reuses what earlier builds on the machine compiled).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" "$@"
fi
# shellcheck disable=SC2086 # a list of target names
cmake --build "$dir" ${DRAVNOK_TARGETS:+--target $DRAVNOK_TARGETS}
