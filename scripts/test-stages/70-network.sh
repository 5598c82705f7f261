# Remote support across NATs: the host and the supporter behind routers
# that admit no inbound connection, the support server (nats-server, nginx,
# coturn, as scripts/support-server.sh runs them) on a public address, all
# in network namespaces; once with direct UDP between the two sides, once
# with it blocked. Needs root (namespaces, nftables).
set -euo pipefail
scripts/build.sh linux
cd tests/browser
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --silent
cd ../network
# Namespaces and nftables need root: a user with sudo runs this part as root.
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo --preserve-env=PATH,HOME)
"${as_root[@]}" env DRAVNOK_BUILD_DIR="$PWD/../../build/linux" DRAVNOK_WIN_BUILD_DIR="$PWD/../../build/win" \
  node --test --test-concurrency=1 network.test.js
