'use strict';
// What the browser tests share (the benchmarks build on it too): Debian's
// Chromium under playwright-core, child programs that speak JSON lines
// (remote-helper as the agent drives it), remote-agent serving the viewer
// page, private X desktops and a TURN server.
const { chromium } = require('playwright-core');
const { spawn, execFile, execFileSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const net = require('node:net');

const CHROMIUM = process.env.DRAVNOK_CHROMIUM || '/usr/bin/chromium';
const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.resolve(__dirname, '../../build/linux');
const HELPER = process.env.DRAVNOK_HELPER || path.join(BUILD_DIR, 'src/host/remote-helper');
const SECRET = 'test-secret-0123456789';
const verbose = !!process.env.DRAVNOK_BROWSER_LOG;

// Host candidates with real addresses instead of mDNS names.
const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-features=WebRtcHideLocalIpsWithMdns',
];

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

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

// `until` for the common case: polls `get` (a throw reads as null) until
// `ok` accepts its value, and returns that value.
const poll = (what, get, ok = Boolean, timeoutMs) =>
  until(what, async () => {
    const value = await Promise.resolve().then(get).catch(() => null);
    return { ok: ok(value), value };
  }, timeoutMs);

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

// Loads `url` or, without one, a blank page with our test peer connection
// (pages/peer-page.js).
async function openPage(page, url) {
  page.on('console', (m) => verbose && console.log('[page]', m.text()));
  await page.goto(url || 'about:blank');
  if (!url) await page.addScriptTag({ path: path.join(__dirname, 'pages', 'peer-page.js') });
  return page;
}

// A fresh profile each time, removed when the browser closes; `init` runs
// in every page before the page's own scripts; `options` change the
// context's (a phone's viewport and touch, say).
async function launchBrowser(url, init, options) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 800 },
    ...options,
  });
  if (init) await context.addInitScript(init);
  const page = await openPage(context.pages()[0] || (await context.newPage()), url);
  return {
    context,
    page,
    async close() {
      await context.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

const newTestPage = async (browser) => openPage(await browser.context.newPage());

// A child driven by JSON lines on its standard input and output; every
// event line lands in `log.events` (lines that are not JSON as `garbage`),
// and `waitFor` answers the first that matches, however early it came.
function startJsonChild(argv, env, tag) {
  const started = Date.now();
  const child = spawn(argv[0], argv.slice(1), { env, stdio: ['pipe', 'pipe', 'pipe'] });
  const log = { events: [], push: (event) => log.events.push(event) };
  let stderr = '';
  child.stderr.on('data', (d) => {
    stderr += d;
    if (tag !== 'helper') process.stderr.write(d);
  });
  child.stdin.on('error', () => {}); // a child that is gone refuses input
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    let event;
    try {
      event = JSON.parse(line);
    } catch {
      event = { evt: 'garbage', line };
    }
    event.at = Date.now() - started;
    if (verbose && event.evt !== 'ice') console.log(`[${tag}]`, line.slice(0, 200));
    log.push(event);
  });
  const exited = new Promise((resolve) =>
    child.on('exit', (code, signal) => resolve({ code, signal, at: Date.now() })),
  );
  const handle = {
    child,
    log,
    stderr: () => stderr,
    send(command) {
      if (!child.stdin.destroyed) child.stdin.write(JSON.stringify(command) + '\n');
    },
    waitFor: (predicate, timeoutMs, what = 'event') =>
      poll(what, () => log.events.find(predicate), Boolean, timeoutMs),
    // Resolves with the exit and how long it took after `since`; kills the
    // child and reports a hang when it takes longer than `limitMs`.
    async exitWithin(limitMs, since = Date.now()) {
      const timer = setTimeout(() => child.kill('SIGKILL'), limitMs);
      const result = await exited;
      clearTimeout(timer);
      return { ...result, ms: result.at - since, hung: result.signal === 'SIGKILL' };
    },
    // Ends its input, which ends the child.
    stop() {
      child.stdin.end();
      return handle.exitWithin(10000);
    },
    async kill() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
      await exited;
    },
  };
  return handle;
}

// remote-helper as the agent runs it.
const startHelper = (env, wrap = []) => startJsonChild([...wrap, HELPER], env, 'helper');

// Wires the test page's peer connection to the helper as the agent does
// it: the offer, the answer and candidates both ways for as long as the
// page lives. A page exposes its bridge function only once, so later
// connections on it share it.
async function connectViewer(page, helper, options = {}) {
  if (!page.dravnokBridge) {
    const bridge = (page.dravnokBridge = {});
    await page.exposeFunction('toHost', (c) => bridge.helper.send({ cmd: 'ice', candidate: c }));
  }
  page.dravnokBridge.helper = helper;
  const offer = await page.evaluate((o) => window.rtcTest.start(o), {
    iceServers: options.iceServers || [],
    iceTransportPolicy: options.iceTransportPolicy || 'all',
    labels: options.labels || ['input', 'files'],
    video: options.video ?? true,
  });
  await answerOffer(page, helper, offer);
  let forwarded = 0;
  const forward = () => {
    const candidates = helper.log.events.filter((e) => e.evt === 'ice' && e.candidate);
    for (; forwarded < candidates.length; forwarded++) {
      page.evaluate((c) => window.rtcTest.addCandidate(c), candidates[forwarded].candidate).catch(() => {});
    }
  };
  const push = helper.log.push;
  helper.log.push = (event) => {
    push(event);
    if (event.evt === 'ice') forward();
  };
  forward();
}

// Sends one offer and applies the answer that it brings.
async function answerOffer(page, helper, offer) {
  const answers = () => helper.log.events.filter((e) => e.evt === 'answer');
  const before = answers().length;
  helper.send({ cmd: 'offer', sdp: offer });
  const answer = await poll('the answer', () => answers()[before], Boolean, 10000);
  await page.evaluate((sdp) => window.rtcTest.setAnswer(sdp), answer.sdp);
}

// remote-agent on a free loopback port; its log lines land in `log`. With
// `alone` it runs as a user gets it: copied with remote-helper into a folder
// of its own (`folder`), where it finds the helper, and serving the page
// from inside itself. `command` starts another agent (the Windows one under
// Wine, say) with the same options.
async function startAgent(env, { mode = 'control', helper, secret = SECRET, ice = [], alone = false, command } = {}) {
  let folder = null;
  let program = command || [path.join(BUILD_DIR, 'src/agent/remote-agent')];
  if (alone) {
    folder = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-agent-'));
    for (const file of ['src/agent/remote-agent', 'src/host/remote-helper']) {
      fs.copyFileSync(path.join(BUILD_DIR, file), path.join(folder, path.basename(file)));
    }
    program = [path.join(folder, 'remote-agent')];
  }
  const port = await freePort();
  const args = ['--listen', `127.0.0.1:${port}`, '--mode', mode, '--viewer-name', 'Ann', '--secret', secret];
  if (helper) args.push('--helper', helper);
  for (const server of ice) args.push('--ice', server);
  const agent = spawn(program[0], [...program.slice(1), ...args], { env, stdio: ['ignore', 'pipe', 'pipe'] });
  const log = [];
  agent.stderr.on('data', (d) => log.push(...d.toString().split('\n').filter(Boolean)));
  const printed = await new Promise((resolve, reject) => {
    agent.stdout.once('data', (d) => resolve(d.toString()));
    agent.once('exit', (code) => reject(new Error(`remote-agent ended with ${code}: ${log.join('\n')}`)));
  });
  const exited = new Promise((resolve) => agent.on('exit', resolve));
  return {
    port,
    log,
    folder,
    // The address as the agent prints it for its user.
    url: /^Open (\S+)/.exec(printed)[1],
    logged: (pattern) => log.some((line) => pattern.test(line)),
    async stop() {
      agent.kill('SIGTERM');
      await exited;
      if (folder) fs.rmSync(folder, { recursive: true, force: true });
    },
    async kill() {
      agent.kill('SIGKILL');
      await exited;
    },
  };
}

// Xvfb on a display that it picks itself and names once it takes
// connections.
async function startXvfb(size = '1280x720x24') {
  const argv = ['-displayfd', '3', '-screen', '0', size, '-nolisten', 'tcp', '-noreset'];
  const server = spawn('Xvfb', argv, { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const exited = new Promise((resolve) => server.on('exit', resolve));
  let named = '';
  server.stdio[3].on('data', (d) => (named += d));
  const display = await poll('Xvfb', () => /\n/.test(named) && named.trim(), Boolean, 10000);
  return {
    env: { ...process.env, DISPLAY: `:${display}` },
    async stop() {
      server.kill('SIGTERM');
      await exited;
    },
  };
}

// Changes the whole screen's colour every `periodMs`, so that the helper
// always has new frames to send.
function startPainter(env, periodMs = 100) {
  let step = 0;
  let busy = false;
  const timer = setInterval(() => {
    if (busy) return;
    busy = true;
    step = (step + 1) % 64;
    const colour = `#${(step * 4).toString(16).padStart(2, '0')}50c8`;
    execFile('xsetroot', ['-solid', colour], { env }, () => (busy = false));
  }, periodMs);
  return { stop: () => clearInterval(timer) };
}

// Where the X pointer is.
function pointer(env) {
  const out = execFileSync('xdotool', ['getmouselocation'], { env }).toString();
  const [, x, y] = out.match(/x:(\d+) y:(\d+)/);
  return { x: Number(x), y: Number(y) };
}

// Waits for the X pointer within `tolerance` pixels of x, y.
const pointerReaches = (env, x, y, tolerance = 1) =>
  poll(`the pointer at ${Math.round(x)},${Math.round(y)}`, () => pointer(env),
    (p) => Math.abs(p.x - x) <= tolerance && Math.abs(p.y - y) <= tolerance);

// The button and key events that reach the root window, as xev reports
// them: {e, button, x, y} or {e, key}; `typed` gives the characters of the
// key presses.
function watchRootInput(env) {
  const xev = spawn('xev', ['-root', '-event', 'button', '-event', 'keyboard'], { env, stdio: ['ignore', 'pipe', 'ignore'] });
  let text = '';
  xev.stdout.on('data', (d) => (text += d));
  const pattern = /((?:Key|Button)(?:Press|Release)) event,[^]*?root:\((\d+),(\d+)\)[^]*?(?:button (\d+)|keysym (0x\w+), (\w+)\))/g;
  const parsed = () => [...text.matchAll(pattern)];
  // Latin-1 keysyms are their code points, others carry theirs above
  // 0x1000000; BackSpace and Return as their control characters.
  const character = (sym) => (sym < 0x100 ? String.fromCodePoint(sym) : sym >> 24 === 1 ? String.fromCodePoint(sym & 0xffffff)
    : { 0xff08: '\b', 0xff0d: '\r' }[sym] || '');
  return {
    events: () => parsed().map(([, e, x, y, button, , key]) =>
      (key ? { e, key } : { e, button: Number(button), x: Number(x), y: Number(y) })),
    typed: () => parsed().filter((m) => m[1] === 'KeyPress' && m[5]).map((m) => character(Number(m[5]))).join(''),
    clear: () => (text = ''),
    stop: () => xev.kill(),
  };
}

// Position and size of each visible X window that xdotool finds by `search`.
function windowGeometries(env, ...search) {
  const run = (args) => execFileSync('xdotool', args, { env, stdio: ['ignore', 'pipe', 'ignore'] }).toString();
  let ids = [];
  try {
    ids = run(['search', '--onlyvisible', ...search]).split('\n').filter(Boolean);
  } catch {} // none found
  return ids.flatMap((id) => {
    try {
      const out = run(['getwindowgeometry', id]);
      const [, x, y] = out.match(/Position: (-?\d+),(-?\d+)/);
      const [, w, h] = out.match(/Geometry: (\d+)x(\d+)/);
      return [{ x: Number(x), y: Number(y), w: Number(w), h: Number(h) }];
    } catch {
      return []; // gone meanwhile
    }
  });
}

const readXClipboard = (env, target) =>
  execFileSync('xclip', ['-selection', 'clipboard', '-t', target, '-o'],
    { env, stdio: ['ignore', 'pipe', 'ignore'], timeout: 5000 });

// xclip stays behind to serve what it placed; it ends when another client
// takes the clipboard or the X server goes away.
const writeXClipboard = (env, target, bytes) =>
  execFileSync('xclip', ['-selection', 'clipboard', '-t', target, '-i'],
    { env, input: bytes, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000 });

const monitorList = (page, timeoutMs) =>
  poll('the monitor list', () => page.evaluate(() => window.dravnokViewer.monitors), Boolean, timeoutMs);

// The colour of one pixel of the decoded picture, in video pixels.
function videoPixel(page, x, y) {
  return page.evaluate(([px, py]) => {
    const video = document.getElementById('video');
    if (!video.videoWidth) return null;
    const canvas = document.createElement('canvas');
    canvas.width = video.videoWidth;
    canvas.height = video.videoHeight;
    const context = canvas.getContext('2d');
    context.drawImage(video, 0, 0);
    return Array.from(context.getImageData(px, py, 1, 1).data.slice(0, 3));
  }, [x, y]);
}

const videoSize = (page) =>
  page.evaluate(() => [document.getElementById('video').videoWidth, document.getElementById('video').videoHeight]);

const near = (rgb, hex, tolerance) =>
  !!rgb && [0, 1, 2].every((i) => Math.abs(rgb[i] - parseInt(hex.slice(2 * i, 2 * i + 2), 16)) <= tolerance);

// The inbound video's statistics (framesDecoded, bytesReceived, ...) with
// the page's time, on the viewer page or on a test page.
function videoStats(page) {
  return page.evaluate(async () => {
    const pc = window.rtcTest ? window.rtcTest.pc : window.dravnokViewer.pc;
    let video = null;
    (await pc.getStats()).forEach((s) => {
      if (s.type === 'inbound-rtp' && s.kind === 'video') video = s;
    });
    return video && { ...video, time: performance.now() };
  });
}

// The RTP time of the last video packet and the receiver's clock then.
function rtpClock(page) {
  return page.evaluate(() => {
    const receiver = window.dravnokViewer.pc.getReceivers().find((r) => r.track && r.track.kind === 'video');
    const source = receiver && receiver.getSynchronizationSources()[0];
    return source ? { time: source.timestamp, rtp: source.rtpTimestamp } : null;
  });
}

// The folder the files panel shows and its names, once `ok` accepts them.
const filesListing = (page, ok, timeoutMs) =>
  poll('the files listing', () => page.evaluate(() => window.dravnokViewer.files && {
    path: window.dravnokViewer.files.path, names: window.dravnokViewer.files.entries.map((e) => e.n) }),
  (files) => !!files && ok(files), timeoutMs);

// SHA-256 of a completed download in the page, in hex.
function downloadDigest(page, index = 0) {
  return page.evaluate(async (i) => {
    const done = window.dravnokViewer.files.completed[i];
    if (!done) return null;
    const hash = await crypto.subtle.digest('SHA-256', await done.blob.arrayBuffer());
    return Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('');
  }, index);
}

// Uploads `size` random bytes made in the page as `name` into the folder
// the files panel shows; gives the host's reply and the bytes' digest.
function uploadRandom(page, name, size) {
  return page.evaluate(async ([fileName, length]) => {
    const bytes = new Uint8Array(length);
    for (let i = 0; i < length; i += 65536) crypto.getRandomValues(bytes.subarray(i, Math.min(length, i + 65536)));
    const reply = await window.dravnokViewer.files.put(new File([bytes], fileName));
    const hash = await crypto.subtle.digest('SHA-256', bytes);
    return { reply, digest: Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('') };
  }, [name, size]);
}

// A folder "fifty" in `parent`: 45 files and a folder "inner" with five
// more, of random sizes up to 200 KB (two of them empty, one named outside
// ASCII); gives each file's SHA-256 by its path from "fifty/".
function makeFolderOfFifty(parent) {
  const digests = {};
  fs.mkdirSync(path.join(parent, 'fifty', 'inner'), { recursive: true });
  for (let i = 0; i < 50; i++) {
    const name = `${i < 45 ? '' : 'inner/'}${i === 1 ? 'gr\u00fc\u00dfe' : 'f'}${i}.bin`;
    const bytes = crypto.randomBytes(i % 25 === 0 ? 0 : crypto.randomInt(200000));
    fs.writeFileSync(path.join(parent, 'fifty', name), bytes);
    digests[`fifty/${name}`] = sha256(bytes);
  }
  return digests;
}

// The first IPv4 address that is not loopback. libnice leaves loopback out
// of its host candidates and its TURN traffic leaves from those sockets, so
// the helper reaches the server here.
function hostAddress() {
  for (const list of Object.values(os.networkInterfaces())) {
    for (const a of list || []) if (a.family === 'IPv4' && !a.internal) return a.address;
  }
  return '127.0.0.1';
}

// coturn with one long-term user on the machine's address, relaying on
// loopback only: relayed traffic never leaves the machine's loopback
// interface. `ice` is the server as remote-agent's --ice takes it.
async function startTurn() {
  const port = await freePort();
  const password = 'relay-' + Math.random().toString(36).slice(2);
  const child = spawn('turnserver', [
    '-n', `--listening-ip=${hostAddress()}`, '--relay-ip=127.0.0.1', `--listening-port=${port}`, '--min-port=49152',
    '--max-port=65000', '--lt-cred-mech', `--user=dravnok:${password}`, '--realm=dravnok.test', '--fingerprint',
    '--no-tls', '--no-dtls', '--no-cli', '--allow-loopback-peers',
  ], { stdio: 'ignore' });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  // Ready once it listens.
  await poll('the TURN server', () => new Promise((resolve) => {
    const s = net.connect(port, hostAddress(), () => resolve(s.destroy() || true));
    s.on('error', () => resolve(false));
  }));
  return {
    ice: `turn:${hostAddress()}:${port}?transport=udp,dravnok,${password}`,
    stop() {
      child.kill('SIGTERM');
      return exited;
    },
  };
}

module.exports = {
  BUILD_DIR, SECRET, CHROMIUM, CHROMIUM_FLAGS, sleep, sha256, until, poll, freePort, launchBrowser, newTestPage, startJsonChild,
  startHelper, connectViewer, answerOffer, startAgent, startXvfb, startPainter, pointer, pointerReaches,
  watchRootInput, windowGeometries, readXClipboard, writeXClipboard, monitorList, filesListing, videoPixel, videoSize,
  near, videoStats, rtpClock, downloadDigest, uploadRandom, makeFolderOfFifty, startTurn,
};
