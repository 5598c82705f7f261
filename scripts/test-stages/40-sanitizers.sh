# The unit tests again under the sanitizers: all of them with AddressSanitizer
# and UBSan; with ThreadSanitizer those of the pieces that run threads (rate
# controller and pacer, encode loop, download thread, clipboard watcher, the
# agent), the real remote-helper, ended in every phase of a session and in a
# whole session viewed by aiortc, and the real remote-agent. Each build keeps
# its own folder, so reruns are incremental.
set -euo pipefail
source scripts/lib/xserver.sh
start_xvfb 1920x1080x24
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT

sanitizer_build() {
  local dir="$1" sanitize="$2" target="$3"
  shift 3
  # Configured every time, so that a folder made with other options follows.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVNOK_SANITIZE="$sanitize" "$@" >/dev/null
  cmake --build "$dir" --target $target --parallel 2
}

# Objects shared with other checkouts' sanitizer builds through ccache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/sanitizers/tsan.supp"

sanitizer_build build/asan address,undefined unit_tests
# Unit tests carry their subsystem's name as a label; program tests and
# tests of their own kind (such as those on a private X server) are left out.
ctest --test-dir build/asan -L . -LE '^program$' --output-on-failure -j2

# The session needs the peer connection (own backend). Its system libraries
# are not instrumented; scripts/sanitizers/tsan.supp says why GLib's and
# libnice's own calls are left out.
sanitizer_build build/tsan thread \
  "congestion_tests video_tests files_tests clipboard_tests agent_tests remote-agent fake_helper remote-helper" \
  -DDRAVNOK_RTC_BACKEND=own
ctest --test-dir build/tsan -L '^(congestion|video|files|clipboard|agent)$' --output-on-failure -j2
# remote-agent's own threads (the helper's reader, the deadline watchdog, the
# broker connection) in its HTTP and broker tests.
ctest --test-dir build/tsan -R '^agent_(http|broker)$' --output-on-failure
for script in session_threads_test.py aiortc_viewer_test.py; do
  PYTHONPATH=tests/lib python3 tests/session/$script --helper build/tsan/src/host/remote-helper
done
