'use strict';
// A small internet in network namespaces: the host and the supporter each
// sit in a LAN behind a NAT router that admits no inbound connection, and
// the support server has a public address. The addresses outside are the
// documentation ranges (a private one would be refused by the TURN server,
// as real private peers are), the LANs are 10.x:
//
//   host 10.1.0.2 -- hostnat 198.51.100.2 --+
//   supporter 10.2.0.2 -- supnat 203.0.113.2 --+-- wan (routes) -- server 192.0.2.10
//
// The wan namespace routes even the LANs' addresses to their routers, so
// that only the routers' firewalls keep inbound traffic out. With
// `udpBlocked` it drops UDP between the two routers: media must go through
// TURN. Everything the lab starts ends with `close()`, and on the process's
// exit, however the test went.
const { spawn, execFileSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { CHROMIUM, CHROMIUM_FLAGS, launchBrowser, poll } = require('../browser/driver');

const REPO = path.resolve(__dirname, '../..');
const SERVER_NAME = 'support.test';
const SERVER_IP = '192.0.2.10';
const ADDRESSES = {
  host: '10.1.0.2', hostnat: '198.51.100.2', supporter: '10.2.0.2', supnat: '203.0.113.2', server: SERVER_IP,
};
const PREFIX = 'dvk';

const sh = (argv, options = {}) => execFileSync(argv[0], argv.slice(1), { stdio: 'pipe', ...options }).toString();

// The router of a LAN: masquerade out, nothing new in.
const NAT_RULES = `
table ip nat {
  chain postrouting { type nat hook postrouting priority srcnat; oifname "wan" masquerade; }
}
table inet filter {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "lan" oifname "wan" accept
  }
  chain input {
    type filter hook input priority 0; policy drop;
    ct state established,related accept
    iifname { "lo", "lan" } accept
  }
}`;

const udpBlockRules = `
table inet filter {
  chain forward {
    type filter hook forward priority 0;
    ip saddr 198.51.100.0/24 ip daddr 203.0.113.0/24 meta l4proto udp drop
    ip saddr 203.0.113.0/24 ip daddr 198.51.100.0/24 meta l4proto udp drop
  }
}`;

// Namespaces and folders left by a run that died (its process is gone).
function removeStale() {
  for (const name of fs.readdirSync(os.tmpdir())) {
    const match = /^dravnok-lab-(\d+)-/.exec(name);
    if (match && !alive(Number(match[1]))) fs.rmSync(path.join(os.tmpdir(), name), { recursive: true, force: true });
  }
  for (const line of sh(['ip', 'netns', 'list']).split('\n')) {
    const match = new RegExp(`^(${PREFIX}(\\d+)-\\w+)`).exec(line);
    if (!match || alive(Number(match[2]))) continue;
    sh(['ip', 'netns', 'del', match[1]]);
    fs.rmSync(`/etc/netns/${match[1]}`, { recursive: true, force: true });
  }
}

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

let counter = 0;
let links = 0;

class Lab {
  constructor({ udpBlocked = false } = {}) {
    removeStale();
    this.id = `${PREFIX}${process.pid}-${counter++}`;
    this.udpBlocked = udpBlocked;
    this.ns = Object.fromEntries(['host', 'hostnat', 'supporter', 'supnat', 'wan', 'server'].map((n) => [n, `${this.id}${n}`]));
    this.children = new Set();
    this.cleanups = [];
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), `dravnok-lab-${process.pid}-`));
    fs.chmodSync(this.dir, 0o755); // the page server's workers run as www-data
    this.exitHook = () => this.closeNow();
    this.signalHook = (signal) => {
      this.closeNow();
      process.kill(process.pid, signal);
    };
    process.on('exit', this.exitHook);
    for (const signal of ['SIGINT', 'SIGTERM']) process.once(signal, this.signalHook);
    try {
      this.build();
    } catch (error) {
      this.closeNow();
      throw error;
    }
  }

  build() {
    const { ns } = this;
    for (const name of Object.values(ns)) {
      sh(['ip', 'netns', 'add', name]);
      this.cleanups.push(() => sh(['ip', 'netns', 'del', name]));
      this.in(name, ['ip', 'link', 'set', 'lo', 'up']);
      // The server's name as every namespace resolves it (ip netns exec lays this over /etc/hosts).
      fs.mkdirSync(`/etc/netns/${name}`, { recursive: true });
      fs.writeFileSync(`/etc/netns/${name}/hosts`, `127.0.0.1 localhost\n${SERVER_IP} ${SERVER_NAME}\n`);
      this.cleanups.push(() => fs.rmSync(`/etc/netns/${name}`, { recursive: true, force: true }));
    }
    // A cable between two namespaces, with an address at each end.
    const cable = (a, aName, aAddress, b, bName, bAddress) => {
      const temp = ['a', 'b'].map((end) => `${PREFIX}${process.pid % 100000}l${links}${end}`);
      links++;
      sh(['ip', 'link', 'add', temp[0], 'type', 'veth', 'peer', 'name', temp[1]]);
      for (const [end, name, address, tempName] of [[a, aName, aAddress, temp[0]], [b, bName, bAddress, temp[1]]]) {
        sh(['ip', 'link', 'set', tempName, 'netns', end]);
        this.in(end, ['ip', 'link', 'set', tempName, 'name', name]);
        this.in(end, ['ip', 'addr', 'add', address, 'dev', name]);
        this.in(end, ['ip', 'link', 'set', name, 'up']);
      }
    };
    cable(ns.host, 'eth0', '10.1.0.2/24', ns.hostnat, 'lan', '10.1.0.1/24');
    cable(ns.supporter, 'eth0', '10.2.0.2/24', ns.supnat, 'lan', '10.2.0.1/24');
    cable(ns.hostnat, 'wan', '198.51.100.2/24', ns.wan, 'tohost', '198.51.100.1/24');
    cable(ns.supnat, 'wan', '203.0.113.2/24', ns.wan, 'tosup', '203.0.113.1/24');
    cable(ns.server, 'eth0', `${SERVER_IP}/24`, ns.wan, 'toserver', '192.0.2.1/24');
    for (const [name, route] of [['host', 'default via 10.1.0.1'], ['supporter', 'default via 10.2.0.1'],
      ['hostnat', 'default via 198.51.100.1'], ['supnat', 'default via 203.0.113.1'],
      ['server', 'default via 192.0.2.1'], ['wan', '10.1.0.0/24 via 198.51.100.2'], ['wan', '10.2.0.0/24 via 203.0.113.2']]) {
      this.in(ns[name], ['ip', 'route', 'add', ...route.split(' ')]);
    }
    for (const router of [ns.hostnat, ns.supnat, ns.wan]) this.in(router, ['sysctl', '-qw', 'net.ipv4.ip_forward=1']);
    for (const router of [ns.hostnat, ns.supnat]) this.in(router, ['nft', '-f', '-'], { input: NAT_RULES });
    if (this.udpBlocked) this.in(ns.wan, ['nft', '-f', '-'], { input: udpBlockRules });
  }

  // Runs argv in a namespace and gives its output.
  in(name, argv, options) {
    return sh(['ip', 'netns', 'exec', name, ...argv], options);
  }

  // Starts argv in a namespace, in a process group of its own so that
  // closing the lab ends it with all its children.
  spawn(name, argv, options = {}) {
    const child = spawn('ip', ['netns', 'exec', name, ...argv], { stdio: 'pipe', ...options, detached: true });
    this.children.add(child);
    child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
    child.exited.then(() => this.children.delete(child));
    child.lines = [];
    for (const stream of [child.stdout, child.stderr].filter(Boolean)) {
      readline.createInterface({ input: stream }).on('line', (line) => {
        child.lines.push(line);
        if (process.env.DRAVNOK_LAB_LOG) console.log(`[${path.basename(argv[0])}]`, line);
      });
    }
    child.waitLine = (pattern, timeoutMs = 20000) =>
      poll(`${path.basename(argv[0])} printing ${pattern}`, () => {
        if (child.exitCode !== null) throw new Error(child.lines.join('\n'));
        return child.lines.map((l) => pattern.exec(l)).find(Boolean);
      }, Boolean, timeoutMs);
    return child;
  }

  async stop(child, signal = 'SIGTERM') {
    if (child.exitCode === null && child.signalCode === null) {
      try {
        process.kill(-child.pid, signal);
      } catch {} // gone meanwhile
    }
    return child.exited;
  }

  // The support server in its namespace, from a state folder prepared
  // outside (where npm reaches its registry). Gives its state folder, the
  // supporter's login, the CA and the page's origin.
  async startServer() {
    const state = path.join(this.dir, 'state');
    const args = ['--public-name', SERVER_NAME, '--state', state, '--supporter', 'ann'];
    const prepared = sh([path.join(REPO, 'scripts/support-server.sh'), ...args, '--prepare-only']);
    const password = /New supporter account: ann, password: (\S+)/.exec(prepared)[1];
    const child = this.spawn(this.ns.server, [path.join(REPO, 'scripts/support-server.sh'), ...args]);
    await child.waitLine(/is running/, 30000);
    const certificate = new crypto.X509Certificate(fs.readFileSync(path.join(state, 'tls/server.pem')));
    const spki = certificate.publicKey.export({ type: 'spki', format: 'der' });
    this.server = {
      child, state, password, login: { username: 'ann', password },
      ca: path.join(state, 'ca.pem'),
      origin: `https://${SERVER_NAME}:8443`,
      spkiHash: crypto.createHash('sha256').update(spki).digest('base64'),
      signers: path.join(state, 'nats/signers.json'),
      turnSecret: fs.readFileSync(path.join(state, 'secrets/turn-secret'), 'utf8').trim(),
    };
    return this.server;
  }

  // Chromium in the supporter's namespace, trusting the support server's
  // key and logged in as its supporter.
  async launchChromium() {
    const wrapper = path.join(this.dir, 'chromium');
    fs.writeFileSync(wrapper, `#!/bin/sh\nexec ip netns exec ${this.ns.supporter} ${CHROMIUM} "$@"\n`, { mode: 0o755 });
    const browser = await launchBrowser(null, null, { executablePath: wrapper, httpCredentials: this.server.login,
      args: [...CHROMIUM_FLAGS, `--ignore-certificate-errors-spki-list=${this.server.spkiHash}`] });
    this.cleanups.push(browser.close);
    return browser;
  }

  // Sockets listening on TCP in a namespace, as `ss -ltn` lists them.
  listeningTcp(name) {
    return this.in(name, ['ss', '-ltnH']).split('\n').filter(Boolean);
  }

  async close() {
    for (const child of [...this.children]) await this.stop(child);
    for (const cleanup of this.cleanups.reverse()) await cleanup();
    this.cleanups = [];
    this.closeNow();
  }

  // What can be done without waiting: kill every child, remove namespaces.
  closeNow() {
    for (const child of this.children) {
      try {
        process.kill(-child.pid, 'SIGKILL');
      } catch {} // gone meanwhile
    }
    for (const cleanup of this.cleanups.reverse()) {
      try {
        cleanup();
      } catch {} // a context's close is asynchronous; the namespaces go all the same
    }
    this.cleanups = [];
    fs.rmSync(this.dir, { recursive: true, force: true });
    process.removeListener('exit', this.exitHook);
    for (const signal of ['SIGINT', 'SIGTERM']) process.removeListener(signal, this.signalHook);
  }
}

module.exports = { Lab, ADDRESSES, SERVER_NAME, SERVER_IP, REPO };
