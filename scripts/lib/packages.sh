# The Debian packages the project needs are listed one per line in
# scripts/packages/*.build (to build) and *.test (to run the tests).
package_list() {
  local kind="$1"
  cat "$(dirname "${BASH_SOURCE[0]}")"/../packages/*."$kind" | sed -e 's/#.*//' -e '/^\s*$/d'
}

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
