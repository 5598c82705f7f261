# The Linux flavour: build, then every unit and program test.
set -euo pipefail
source scripts/lib/xserver.sh
scripts/build.sh linux
start_xvfb 1920x1080x24
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
ctest --test-dir build/linux --output-on-failure -j2
