# The Linux flavour: build, then every unit and program test.
set -euo pipefail
source scripts/lib/xserver.sh
scripts/build.sh linux
start_xvfb 1920x1080x24
ctest --test-dir build/linux --output-on-failure -j2
