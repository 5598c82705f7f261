'use strict';
// What the browser tests share: Debian's Chromium under playwright-core, our
// peer program driven by JSON lines, and a TURN server on loopback.
const { chromium } = require('playwright-core');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const net = require('node:net');

const CHROMIUM = process.env.DRAVNOK_CHROMIUM || '/usr/bin/chromium';
const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.resolve(__dirname, '../../build/linux');

const CHROMIUM_FLAGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  // Host candidates with real addresses instead of mDNS names.
  '--disable-features=WebRtcHideLocalIpsWithMdns',
];

// A fresh profile each time; removed when the browser closes. Without a
// `url` the page is blank with our test script (pages/peer-page.js).
async function launchBrowser(url) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 800 },
  });
  const page = context.pages()[0] || (await context.newPage());
  page.on('console', (m) => {
    if (process.env.DRAVNOK_BROWSER_LOG) console.log('[page]', m.text());
  });
  await page.goto(url || 'about:blank');
  if (!url) await page.addScriptTag({ path: path.join(__dirname, 'pages', 'peer-page.js') });
  return {
    context,
    page,
    async close() {
      await context.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Events from a child that writes one JSON object per line, with waiting.
class EventLog {
  constructor() {
    this.events = [];
    this.waiters = [];
  }
  push(event) {
    this.events.push(event);
    for (const w of [...this.waiters]) this.check(w);
  }
  check(w) {
    const found = this.events.find(w.predicate);
    if (found) {
      clearTimeout(w.timer);
      this.waiters.splice(this.waiters.indexOf(w), 1);
      w.resolve(found);
    }
  }
  waitFor(predicate, timeoutMs = 20000, what = 'event') {
    return new Promise((resolve, reject) => {
      const w = { predicate, resolve };
      w.timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(w), 1);
        reject(new Error(`timed out waiting for ${what}; saw ${JSON.stringify(this.events.slice(-8))}`));
      }, timeoutMs);
      this.waiters.push(w);
      this.check(w);
    });
  }
}

// Our peer connection in its own process (tests/browser/peer).
function startPeer(iceArgs = [], program = 'rtc_browser_peer') {
  const binary = path.join(BUILD_DIR, 'tests', 'browser', program);
  const child = spawn(binary, iceArgs, { stdio: ['pipe', 'pipe', 'inherit'] });
  const log = new EventLog();
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    try {
      const event = JSON.parse(line);
      if (process.env.DRAVNOK_BROWSER_LOG && event.evt !== 'received') console.log('[peer]', line.slice(0, 200));
      log.push(event);
    } catch {
      /* not ours */
    }
  });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return {
    log,
    exited,
    send(command) {
      child.stdin.write(JSON.stringify(command) + '\n');
    },
    waitFor(predicate, timeoutMs, what) {
      return log.waitFor(predicate, timeoutMs, what);
    },
    async stop() {
      child.stdin.end();
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      const result = await exited;
      clearTimeout(timer);
      return result;
    },
  };
}

// Wires the page's peer connection to one of ours: the offer, the answer and
// candidates both ways for as long as the page lives. `how` says how that
// peer takes a candidate and which of its events bring one. A page exposes
// its bridge function only once, so later connections on it share it.
async function wire(page, peer, options, how) {
  if (!page.dravnokBridge) {
    const bridge = (page.dravnokBridge = {});
    await page.exposeFunction('toHost', (m) => {
      if (m.type === 'candidate' && bridge.peer) bridge.peer.send(bridge.how.candidate(m));
    });
  }
  Object.assign(page.dravnokBridge, { peer, how });
  const offer = await page.evaluate((o) => window.rtcTest.start(o), {
    iceServers: options.iceServers || [],
    iceTransportPolicy: options.iceTransportPolicy || 'all',
    labels: options.labels || ['input', 'files'],
    video: !!options.video,
  });
  if (options.offerOnly) return offer;
  await answerOffer(page, peer, offer);
  let forwarded = 0;
  const forward = () => {
    const candidates = peer.log.events.map(how.remote).filter(Boolean);
    for (; forwarded < candidates.length; forwarded++) {
      const c = candidates[forwarded];
      page.evaluate((x) => window.rtcTest.addCandidate(x.candidate, x.mid), c).catch(() => {});
    }
  };
  const push = peer.log.push.bind(peer.log);
  peer.log.push = (event) => {
    push(event);
    if (how.remote(event)) forward();
  };
  forward();
  return offer;
}

// Sends one offer and applies the answer that it brings.
async function answerOffer(page, peer, offer) {
  const answers = () => peer.log.events.filter((e) => e.evt === 'answer');
  const before = answers().length;
  peer.send({ cmd: 'offer', sdp: offer });
  await until('the answer', async () => ({ ok: answers().length > before, value: peer.log.events.slice(-4) }), 10000);
  const answer = answers()[before];
  await page.evaluate((sdp) => window.rtcTest.setAnswer(sdp), answer.sdp);
  return answer;
}

// Our test peer program (tests/browser/peer) takes and gives candidates flat.
function connect(page, peer, options = {}) {
  return wire(page, peer, options, {
    candidate: (m) => ({ cmd: 'candidate', candidate: m.candidate, mid: m.mid }),
    remote: (e) => e.evt === 'candidate' && { candidate: e.candidate, mid: e.mid },
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `probe` (which answers {ok, value}) every 200 ms; returns the value
// once ok, or throws naming `what` and the last value seen.
async function until(what, probe, timeoutMs = 20000) {
  const end = Date.now() + timeoutMs;
  let last;
  while (Date.now() < end) {
    last = await probe();
    if (last && last.ok) return last.value;
    await sleep(200);
  }
  throw new Error(`timed out waiting for ${what}; last: ${JSON.stringify(last && last.value)}`);
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

// The first IPv4 address that is not loopback. libnice leaves loopback out
// of its host candidates and its TURN traffic leaves from those sockets, so
// our peer reaches the server here.
function hostAddress() {
  for (const list of Object.values(os.networkInterfaces())) {
    for (const a of list || []) if (a.family === 'IPv4' && !a.internal) return a.address;
  }
  return '127.0.0.1';
}

// coturn with one long-term user, listening on loopback and on the machine's
// address, and relaying on loopback only: relayed traffic never leaves the
// machine's loopback interface.
async function startTurn() {
  const port = await freePort();
  const user = 'dravnok';
  const password = 'relay-' + Math.random().toString(36).slice(2);
  const child = spawn(
    'turnserver',
    [
      '-n',
      '--listening-ip=127.0.0.1',
      `--listening-ip=${hostAddress()}`,
      '--relay-ip=127.0.0.1',
      `--listening-port=${port}`,
      '--min-port=49152',
      '--max-port=65000',
      '--lt-cred-mech',
      `--user=${user}:${password}`,
      '--realm=dravnok.test',
      '--fingerprint',
      '--no-tls',
      '--no-dtls',
      '--no-cli',
      '--allow-loopback-peers',
      '--log-file=stdout',
      '--simple-log',
      '--verbose',
    ],
    { stdio: ['ignore', 'pipe', 'pipe'] },
  );
  let output = '';
  child.stdout.on('data', (d) => (output += d));
  child.stderr.on('data', (d) => (output += d));
  // Ready once it listens.
  for (let i = 0; i < 100; i++) {
    const up = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1', () => {
        s.destroy();
        resolve(true);
      });
      s.on('error', () => resolve(false));
    });
    if (up) break;
    await new Promise((r) => setTimeout(r, 100));
  }
  return {
    url: `turn:127.0.0.1:${port}?transport=udp`,
    // The same server on the machine's address, for agents that cannot
    // reach loopback from their host sockets.
    hostUrl: `turn:${hostAddress()}:${port}?transport=udp`,
    user,
    password,
    output: () => output,
    stop() {
      child.kill('SIGTERM');
      return new Promise((resolve) => child.on('exit', resolve));
    },
  };
}

module.exports = {
  launchBrowser, startPeer, connect, wire, answerOffer, startTurn, EventLog, CHROMIUM_FLAGS, sleep, until, freePort,
};
