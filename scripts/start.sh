#!/usr/bin/env bash
# One command to a real session: installs what is missing, builds, and
# starts remote-agent on this X display, or on a private Xvfb desktop with a
# few windows when there is none. It prints the address to open, with the
# secret. Options after the command go to remote-agent (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
mapfile -t packages < <(package_list build; package_list run)
ensure_packages "${packages[@]}"
# Only what the session runs: the test programs wait for the test command.
DRAVNOK_TARGETS="remote-agent remote-helper" scripts/build.sh linux >&2

children=()
cleanup() { for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  source scripts/lib/xserver.sh
  start_xvfb 1920x1080x24
  children+=("$XVFB_PID")
  echo "No X display: started a private desktop on $DISPLAY" >&2
  xsetroot -solid '#2b4a6f'
  xterm -geometry 100x30+80+80 -bg '#101418' -fg '#d8dee9' -T "Remote support demo" \
    -e sh -c 'echo "This desktop is shared with the viewer."; echo "Type here from the browser."; exec sh' &
  children+=("$!")
  xclock -geometry 200x200+1500+100 -update 1 &
  children+=("$!")
fi

build/linux/src/agent/remote-agent "$@" &
children+=("$!")
wait "$!"
