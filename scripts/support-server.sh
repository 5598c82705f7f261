#!/usr/bin/env bash
# The support server: hosts and supporters behind NATs both connect out to it. It is made of three engines and no
# program of ours: nats-server (the broker that carries the end-to-end encrypted signalling), nginx (the viewer page
# over HTTPS, and the page's WebSocket forwarded to the broker on the same origin) and coturn (TURN, for media that
# cannot go peer to peer). This script installs what is missing, writes their configuration into the state folder,
# keeps identities and secrets there across restarts, and runs the three in the foreground: Ctrl+C stops them all.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$repo/scripts/lib/packages.sh"

usage() {
  cat <<EOF
usage: $0 --public-name NAME [options]
  --public-name NAME     the name (or IPv4 address) hosts and supporters reach this machine by
  --cert FILE --key FILE the server's certificate (full chain) and key; without them a private CA in the state
                         folder signs one for NAME, and hosts pass its CA file to remote-agent --server-ca
  --state DIR            where configuration, identities, secrets, logs and the page live
                         (default: /var/lib/dravnok-support as root, ~/.local/state/dravnok-support otherwise)
  --supporter NAME       a supporter account to make if missing (repeatable; default: supporter)
  --https-port N         the page and the page's broker connection (default 8443)
  --nats-port N          hosts' TLS broker connections (default 4222)
  --turn-port N          TURN over UDP and TCP (default 3478)
  --turns-port N         TURN over TLS (default 5349)
  --ws-port N            the broker's WebSocket listener on loopback, behind nginx (default 8089)
  --relay-ports MIN-MAX  coturn's relay ports (default 49152-65535)
  --public-ip ADDR       the address coturn announces (default: what NAME resolves to)
  --max-connections N    the broker's connection limit (default 20000)
  --host-broker URL      one more broker for hosts (tls://...), listed after this one (repeatable)
  --viewer-broker URL    one more broker for pages (wss://...), listed after this one (repeatable)
  --turn-url URL         one more TURN server sharing this one's secret (repeatable)
  --prepare-only         write everything into the state folder, start nothing
EOF
  exit 2
}

public_name="" cert="" key="" state="" prepare_only=0 public_ip="" max_connections=20000
https_port=8443 nats_port=4222 turn_port=3478 turns_port=5349 ws_port=8089 relay_ports=49152-65535
supporters=() host_brokers=() viewer_brokers=() turn_urls=()
while (($#)); do
  case "$1" in
  --public-name) public_name="${2:?}" ;;
  --cert) cert="${2:?}" ;;
  --key) key="${2:?}" ;;
  --state) state="${2:?}" ;;
  --supporter) supporters+=("${2:?}") ;;
  --https-port) https_port="${2:?}" ;;
  --nats-port) nats_port="${2:?}" ;;
  --turn-port) turn_port="${2:?}" ;;
  --turns-port) turns_port="${2:?}" ;;
  --ws-port) ws_port="${2:?}" ;;
  --relay-ports) relay_ports="${2:?}" ;;
  --public-ip) public_ip="${2:?}" ;;
  --max-connections) max_connections="${2:?}" ;;
  --host-broker) host_brokers+=("${2:?}") ;;
  --viewer-broker) viewer_brokers+=("${2:?}") ;;
  --turn-url) turn_urls+=("${2:?}") ;;
  --prepare-only) prepare_only=1; shift; continue ;;
  *) usage ;;
  esac
  shift 2
done

fail() {
  echo "support-server: $*" >&2
  exit 1
}
[[ "$public_name" =~ ^[A-Za-z0-9]([A-Za-z0-9.-]{0,251}[A-Za-z0-9])?$ ]] || fail "--public-name: a DNS name or IPv4 address"
[ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; } && fail "--cert and --key go together"
for port in "$https_port" "$nats_port" "$turn_port" "$turns_port" "$ws_port"; do
  [[ "$port" =~ ^[1-9][0-9]{0,4}$ ]] && ((port <= 65535)) || fail "not a port number: $port"
done
[[ "$max_connections" =~ ^[1-9][0-9]{0,6}$ ]] || fail "--max-connections: a number"
[[ "$relay_ports" =~ ^([1-9][0-9]{3,4})-([1-9][0-9]{3,4})$ ]] && ((BASH_REMATCH[1] < BASH_REMATCH[2])) &&
  ((BASH_REMATCH[2] <= 65535)) || fail "--relay-ports: MIN-MAX, e.g. 49152-65535"
relay_min=${BASH_REMATCH[1]} relay_max=${BASH_REMATCH[2]}
for url in "${host_brokers[@]}" "${viewer_brokers[@]}" "${turn_urls[@]}"; do
  [[ "$url" =~ ^[a-z]+:[^\"\\[:space:]]+$ ]] || fail "not a URL: $url"
done
((${#supporters[@]})) || supporters=(supporter)
for name in "${supporters[@]}"; do
  [[ "$name" =~ ^[A-Za-z0-9._-]{1,64}$ ]] || fail "--supporter: letters, digits, . _ - only"
done
is_root=0
[ "$(id -u)" = 0 ] && is_root=1
if [ -z "$state" ]; then
  ((is_root)) && state=/var/lib/dravnok-support || state="${XDG_STATE_HOME:-$HOME/.local/state}/dravnok-support"
fi
mkdir -p "$state"
state=$(cd "$state" && pwd)

# What is missing, from Debian. npm may come with a nodejs of another origin; Debian's npm would fight it.
wanted=(nats-server nginx coturn python3-cryptography openssl)
command -v npm >/dev/null || wanted+=(npm)
ensure_packages "${wanted[@]}"
python=/usr/bin/python3

# The folder's layout. Secrets stay with this user; as root nginx's workers (www-data) read the page, the
# supporters' file and the password list, through folders they may pass but not list.
umask 077
mkdir -p "$state"/{etc,run,logs,tls,nats,secrets,npm}
chmod 711 "$state" "$state/run"
web_group=""
((is_root)) && web_group=www-data

# The certificate: the operator's, or one for NAME signed by a CA of our own that hosts are told to trust.
if [ -n "$cert" ]; then
  [ -r "$cert" ] && [ -r "$key" ] || fail "cannot read $cert or $key"
  cert=$(realpath "$cert") key=$(realpath "$key") ca_file=""
else
  ca_file="$state/ca.pem" cert="$state/tls/server.pem" key="$state/tls/server.key"
  if [ ! -s "$ca_file" ] || [ ! -s "$state/tls/ca.key" ]; then
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -sha256 \
      -subj "/CN=dravnok support CA $(openssl rand -hex 4)" -keyout "$state/tls/ca.key" -out "$ca_file" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
    chmod 644 "$ca_file"
    rm -f "$cert"
  fi
  if [[ "$public_name" =~ ^[0-9.]+$ ]]; then san="IP:$public_name"; else san="DNS:$public_name"; fi
  # A new one when the name changed or it expires within a month; the CA, which hosts hold, stays.
  if ! openssl x509 -in "$cert" -noout -checkend 2592000 >/dev/null 2>&1 ||
    ! openssl x509 -in "$cert" -noout -ext subjectAltName 2>/dev/null | grep -qx "    ${san/IP:/IP Address:}"; then
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$public_name" \
      -keyout "$key" -out "$state/tls/server.csr" 2>/dev/null
    openssl x509 -req -in "$state/tls/server.csr" -CA "$ca_file" -CAkey "$state/tls/ca.key" -CAserial "$state/tls/ca.srl" -CAcreateserial \
      -days 825 -sha256 -out "$cert" -extfile <(printf '%s\n' "subjectAltName=$san" \
        "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth") \
      2>/dev/null
    cat "$ca_file" >>"$cert"
  fi
fi
fingerprint=$(openssl x509 -in "$cert" -noout -fingerprint -sha256 | cut -d= -f2)

# The broker's identities (kept on a rerun, so that hosts' links stay valid) and the TURN secret.
"$python" "$repo/deploy/nats/make_accounts.py" "$state/nats"
[ -s "$state/secrets/turn-secret" ] || openssl rand -hex 32 >"$state/secrets/turn-secret"
turn_secret=$(<"$state/secrets/turn-secret")
signer() { "$python" -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$state/nats/signers.json" "$1"; }
account=$(signer account) host_signer=$(signer hostSigner) viewer_signer=$(signer viewerSigner)

# Supporter accounts: a password is made and printed once; only its hash is kept.
touch "$state/htpasswd"
new_accounts=()
for name in "${supporters[@]}"; do
  grep -q "^$name:" "$state/htpasswd" && continue
  password=$(openssl rand -base64 24 | tr -d '/+=' | cut -c1-20)
  echo "$name:$(openssl passwd -6 -stdin <<<"$password")" >>"$state/htpasswd"
  new_accounts+=("$name:$password")
done

# Where coturn listens and what it announces: NAME's address where this machine holds it, else (a cloud
# machine behind a 1:1 NAT) the local address it leaves by, announced as the public one.
if [ -z "$public_ip" ]; then
  if [[ "$public_name" =~ ^[0-9.]+$ ]]; then public_ip=$public_name; else
    public_ip=$(getent ahostsv4 "$public_name" | awk 'NR == 1 { print $1 }' || true)
  fi
fi
listen_lines="" turn_check=127.0.0.1
[ -z "$public_ip" ] || [[ "$public_ip" =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || fail "--public-ip: an IPv4 address"
if [ -n "$public_ip" ] && ip -o -4 addr show | grep -qF " inet $public_ip/"; then
  listen_lines="listening-ip=$public_ip"$'\n'"relay-ip=$public_ip" turn_check=$public_ip
elif [ -n "$public_ip" ]; then
  local_ip=$(ip -4 route get "$public_ip" 2>/dev/null | grep -o 'src [0-9.]*' | cut -d' ' -f2)
  [ -n "$local_ip" ] || fail "no route to $public_ip"
  listen_lines="listening-ip=$local_ip"$'\n'"relay-ip=$local_ip"$'\n'"external-ip=$public_ip/$local_ip"
  turn_check=$local_ip
else
  echo "support-server: $public_name does not resolve here; coturn listens everywhere (give --public-ip)" >&2
fi
# The addresses as hosts and pages use them.
[ "$https_port" = 443 ] && origin="https://$public_name" || origin="https://$public_name:$https_port"
json_list() {
  local out="" item
  for item in "$@"; do out+="${out:+,}\"$item\""; done
  echo "[$out]"
}
host_broker_list=$(json_list "tls://$public_name:$nats_port" "${host_brokers[@]}")
viewer_broker_list=$(json_list "wss://${origin#https://}/broker" "${viewer_brokers[@]}")
# TURN by address where it is known: a client's ICE agent need not look the name up (and a host's may not be able
# to); TLS needs the name its certificate carries.
turn_host=${public_ip:-$public_name}
turn_list=$(json_list "turn:$turn_host:$turn_port?transport=udp" "turn:$turn_host:$turn_port?transport=tcp" \
  "turns:$public_name:$turns_port?transport=tcp" "${turn_urls[@]}")

# The page: the viewer's files and the broker client from the pinned npm package, swapped in whole.
if ! cmp -s "$repo/deploy/page/package-lock.json" "$state/npm/package-lock.json" ||
  [ ! -s "$state/npm/node_modules/nats.ws/esm/nats.js" ]; then
  cp "$repo/deploy/page/package.json" "$repo/deploy/page/package-lock.json" "$state/npm/"
  (cd "$state/npm" && npm ci --no-audit --no-fund --silent --ignore-scripts) || fail "npm ci in $state/npm failed"
fi
umask 022
rm -rf "$state/page.new"
mkdir -p "$state/page.new/vendor" "$state/page.new/supporter"
cp -r "$repo/src/agent/viewer/." "$state/page.new/"
install -m 644 "$state/npm/node_modules/nats.ws/esm/nats.js" "$state/page.new/vendor/nats.js"
chmod -R a+rX "$state/page.new"
cat >"$state/page.new/dravnok-server.json" <<EOF
{"version":1,"brokers":$host_broker_list,"account":"$account","hostSigner":"$host_signer","page":"$origin/"}
EOF
(
  umask 027
  cat >"$state/page.new/supporter/dravnok-supporter.json" <<EOF
{"version":1,"brokers":$viewer_broker_list,"account":"$account","viewerSigner":"$viewer_signer",
 "turn":{"urls":$turn_list,"secret":"$turn_secret","ttl":43200}}
EOF
)
chmod 640 "$state/htpasswd"
if [ -n "$web_group" ]; then
  chgrp "$web_group" "$state/htpasswd" "$state/page.new/supporter/dravnok-supporter.json"
  chmod 750 "$state/page.new/supporter" && chgrp "$web_group" "$state/page.new/supporter"
fi
rm -rf "$state/page.old"
[ -d "$state/page" ] && mv "$state/page" "$state/page.old"
mv "$state/page.new" "$state/page"
rm -rf "$state/page.old"
if [ -n "$web_group" ] && ! runuser -u "$web_group" -- test -r "$state/page/supporter/dravnok-supporter.json"; then
  fail "$web_group cannot reach $state (a parent folder shuts it out): choose another --state"
fi

proc_user_lines=""
((is_root)) && id turnserver >/dev/null 2>&1 && proc_user_lines=$'proc-user=turnserver\nproc-group=turnserver'
listen6_line=""
[ -s /proc/net/if_inet6 ] && listen6_line="    listen [::]:$https_port ssl;"

# The engines' configuration, from the templates in deploy/.
render() {
  local text
  text=$(<"$1")
  local -A values=(
    [STATE]="$state" [CERT]="$cert" [KEY]="$key" [PUBLIC_NAME]="$public_name" [SERVER_NAME]="$public_name"
    [NATS_HOST]=0.0.0.0 [NATS_PORT]="$nats_port" [WS_PORT]="$ws_port" [MAX_CONNECTIONS]="$max_connections"
    [PAGE_ORIGINS]="\"$origin\"" [HTTPS_PORT]="$https_port" [LISTEN6_LINE]="$listen6_line"
    [USER_LINE]="${web_group:+user $web_group $web_group;}" [TURN_PORT]="$turn_port" [TURNS_PORT]="$turns_port"
    [RELAY_MIN]="$relay_min" [RELAY_MAX]="$relay_max" [TURN_SECRET]="$turn_secret" [LISTEN_LINES]="$listen_lines"
    [PROC_USER_LINES]="$proc_user_lines" [TURN_KEY]="$turn_key" [TURN_CERT]="$turn_cert")
  local name
  for name in "${!values[@]}"; do text=${text//"{{$name}}"/"${values[$name]}"}; done
  [[ "$text" != *"{{"* ]] || fail "$1: a placeholder is left"
  printf '%s\n' "$text" >"$2"
}
umask 077
turn_key=$key turn_cert=$cert
if [ -n "$proc_user_lines" ]; then
  # coturn runs as its own user, which must be able to read its certificate again (a reload) and its database:
  # copies for it, so that the operator's files keep their owners; a renewed certificate is copied at each start.
  turn_key=$state/tls/coturn.key turn_cert=$state/tls/coturn.pem
  install -m 640 -g turnserver "$key" "$turn_key"
  install -m 640 -g turnserver "$cert" "$turn_cert"
  chgrp turnserver "$state/tls" "$state/run" && chmod 710 "$state/tls"
  touch "$state/run/turndb" && chown turnserver "$state/run/turndb"
fi
render "$repo/deploy/nats/nats.conf.in" "$state/etc/nats.conf"
render "$repo/deploy/nginx/nginx.conf.in" "$state/etc/nginx.conf"
render "$repo/deploy/nginx/headers.conf.in" "$state/etc/nginx-headers.conf"
render "$repo/deploy/coturn/turnserver.conf.in" "$state/etc/turnserver.conf"
[ -e "$state/etc/nats-local.conf" ] || echo "# Lasting broker settings (a cluster block, say)." >"$state/etc/nats-local.conf"

for account_line in "${new_accounts[@]}"; do
  echo "New supporter account: ${account_line%%:*}, password: ${account_line#*:} (shown only now)"
done
((prepare_only)) && { echo "Prepared in $state"; exit 0; }

# Check before starting: nothing else holds the ports (Debian starts the packages' own services on install).
# Whether something listens on TCP address $1 port $2 (read from the socket table: a probe connection would
# leave a failed TLS handshake in the broker's log).
listening() { ss -ltnH "sport = :$2" | awk '{ print $4 }' | grep -qE "^(${1//./\\.}|0\.0\.0\.0|\*|\[::\]):$2\$"; }
for port in "$https_port" "$nats_port" "$ws_port"; do
  listening 127.0.0.1 "$port" && fail "port $port is taken: $(ss -ltnpH "sport = :$port" | head -1)"
done
listening "$turn_check" "$turn_port" && fail "port $turn_port is taken (a coturn service? systemctl disable --now coturn)"
nats-server -c "$state/etc/nats.conf" -t >/dev/null || fail "nats-server refuses $state/etc/nats.conf"
nginx -e "$state/logs/nginx-error.log" -c "$state/etc/nginx.conf" -t -q || fail "nginx refuses $state/etc/nginx.conf"

# The three in the foreground. One that ends on its own (a crash, or a broker killed to be restarted) is started
# again, at most 5 times a minute; Ctrl+C, or an engine that keeps failing, ends all.
declare -A engines=()
stop_all() {
  trap - INT TERM EXIT
  local pid
  for pid in "${!engines[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap 'exit 130' INT
trap 'exit 143' TERM
trap stop_all EXIT
start_engine() {
  case "$1" in
  nats-server) nats-server -c "$state/etc/nats.conf" & ;;
  coturn) turnserver -c "$state/etc/turnserver.conf" >/dev/null 2>&1 & ;;
  nginx) nginx -e "$state/logs/nginx-error.log" -c "$state/etc/nginx.conf" & ;;
  esac
  engines[$!]=$1
}
for engine in nats-server coturn nginx; do start_engine "$engine"; done
for _ in $(seq 100); do
  listening 127.0.0.1 "$https_port" && listening 127.0.0.1 "$nats_port" && listening 127.0.0.1 "$ws_port" &&
    listening "$turn_check" "$turn_port" && break
  sleep 0.1
done
host_command="remote-agent --server $origin${ca_file:+ --server-ca $ca_file}"
cat <<EOF
The support server for $public_name is running (Ctrl+C stops it).
  Hosts run:    $host_command
  Supporters:   open the link a host passes on, and log in with a supporter account ($state/htpasswd)
  Certificate:  SHA-256 $fingerprint${ca_file:+
  CA file:      $ca_file (hosts pass it to --server-ca)}
  Logs:         $state/logs/
EOF
restarts=()
while true; do
  ended=""
  status=0
  wait -n -p ended || status=$?
  [ -n "$ended" ] || { ((${#engines[@]})) && continue; fail "no engine left"; }
  engine=${engines[$ended]}
  unset "engines[$ended]"
  now=$(date +%s)
  restarts=("${restarts[@]}" "$now")
  ((${#restarts[@]} > 5)) && restarts=("${restarts[@]:1}")
  if ((${#restarts[@]} == 5 && now - restarts[0] < 60)); then
    fail "$engine ended (status $status) and keeps failing; see $state/logs/"
  fi
  echo "support-server: $engine ended (status $status); starting it again" >&2
  start_engine "$engine"
done
