#!/usr/bin/env bash
# Line coverage of src/ by the Linux unit and program tests (gcovr): builds a
# separate tree with --coverage in build/coverage, runs ctest on a private
# display and prints the summary. Not part of the test command (it is a second
# full build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/xserver.sh
dir=build/coverage
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_C_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage
fi
cmake --build "$dir"
find "$dir" -name '*.gcda' -delete
start_xvfb 1920x1080x24
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
ctest --test-dir "$dir" -j2 || echo "coverage: some tests failed; figures cover what ran" >&2
gcovr --root . --gcov-ignore-parse-errors --filter 'src/' --exclude '.*/win32/.*' --object-directory "$dir" "$dir" --print-summary \
  --txt "$dir/coverage.txt" | tail -3
