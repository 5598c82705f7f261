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
DRAVNOK_BUILD_DIR="$PWD/../../build/linux" node --test --test-concurrency=1 network.test.js
