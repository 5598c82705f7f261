# Starts a private Xvfb; the caller stops it (kill $XVFB_PID).
start_xvfb() {
  local geometry="${1:-1920x1080x24}"
  local display
  for display in $(seq 90 130); do
    [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ] || break
  done
  Xvfb ":${display}" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":${display}"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
}
