# Debian packages the project needs, and a way to install the missing ones.

# To build remote-helper on Linux.
BUILD_PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config python3
  nlohmann-json3-dev libssl-dev libnice-dev libsrtp2-dev libusrsctp-dev
  libavcodec-dev libavutil-dev libswscale-dev
  libx11-dev libxext-dev libxtst-dev libxfixes-dev libxrandr-dev
  libcairo2-dev libfontconfig-dev libpng-dev libcpp-httplib-dev
)

# To run the whole test suite: the Windows cross-build and Wine, X servers
# and X tools, GoogleTest, clang for the fuzzers, the format checker.
TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64
  xvfb xauth x11-utils x11-xserver-utils xdotool xclip
  clang clang-format libclang-rt-dev
)

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}
