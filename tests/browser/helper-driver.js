'use strict';
// Drives remote-helper the way the agent does (JSON lines on its standard
// input and output) against a page in Chromium, on a private X desktop.
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const readline = require('node:readline');
const { EventLog, sleep, until, wire, answerOffer } = require('./harness');

const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.resolve(__dirname, '../../build/linux');
const HELPER = process.env.DRAVNOK_HELPER || path.join(BUILD_DIR, 'src/host/remote-helper');

// Xvfb on a free display from a random start in 300-399 (other test runs
// on the machine take displays too); `wrap` puts it inside a network
// namespace when the caller needs that.
async function startXvfb(size = '1280x720x24', wrap = []) {
  const first = 300 + Math.floor(Math.random() * 100);
  for (let n = 0; n < 100; n++) {
    const display = 300 + ((first - 300 + n) % 100);
    if (fs.existsSync(`/tmp/.X${display}-lock`)) continue;
    // -noreset: a server that resets whenever its last client leaves refuses
    // connections meanwhile.
    const argv = [...wrap, 'Xvfb', `:${display}`, '-screen', '0', size, '-nolisten', 'tcp', '-noreset'];
    const server = spawn(argv[0], argv.slice(1), { stdio: 'ignore' });
    const env = { ...process.env, DISPLAY: `:${display}` };
    for (let i = 0; i < 50 && server.exitCode === null; i++) {
      try {
        execFileSync('xdpyinfo', [], { env, stdio: 'ignore' });
        // Answered by our server, not one that won the display first.
        await sleep(200);
        if (server.exitCode !== null) break;
        const exited = new Promise((resolve) => server.on('exit', resolve));
        return {
          env,
          display,
          async stop() {
            server.kill('SIGTERM');
            await exited;
          },
        };
      } catch {
        await sleep(100);
      }
    }
    server.kill('SIGKILL');
  }
  throw new Error('no free X display');
}

// Changes the whole screen's colour every `periodMs`, so that the helper
// always has new frames to send.
function startPainter(env, periodMs = 100) {
  const { execFile } = require('node:child_process');
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

// remote-helper as a child; every event line lands in `log`.
function startHelper(env, wrap = []) {
  const argv = [...wrap, HELPER];
  const started = Date.now();
  const child = spawn(argv[0], argv.slice(1), { env, stdio: ['pipe', 'pipe', 'pipe'] });
  const log = new EventLog();
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  child.stdin.on('error', () => {}); // a helper that is gone refuses input
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    let event;
    try {
      event = JSON.parse(line);
    } catch {
      event = { evt: 'garbage', line };
    }
    event.at = Date.now() - started;
    if (process.env.DRAVNOK_BROWSER_LOG && event.evt !== 'ice') console.log('[helper]', line.slice(0, 200));
    log.push(event);
  });
  const exited = new Promise((resolve) =>
    child.on('exit', (code, signal) => resolve({ code, signal, at: Date.now() })),
  );
  return {
    child,
    log,
    exited,
    stderr: () => stderr,
    send(command) {
      if (!child.stdin.destroyed) child.stdin.write(typeof command === 'string' ? command : JSON.stringify(command) + '\n');
    },
    waitFor(predicate, timeoutMs, what) {
      return log.waitFor(predicate, timeoutMs, what);
    },
    logged(pattern) {
      return log.events.some((e) => e.evt === 'log' && pattern.test(e.msg));
    },
    threads() {
      try {
        return fs.readdirSync(`/proc/${child.pid}/task`).length;
      } catch {
        return 0;
      }
    },
    // Resolves with the exit and how long it took after `since`; kills the
    // helper and reports a hang when it takes longer than `limitMs`.
    async exitWithin(limitMs, since = Date.now()) {
      const timer = setTimeout(() => child.kill('SIGKILL'), limitMs);
      const result = await exited;
      clearTimeout(timer);
      return { ...result, ms: result.at - since, hung: result.signal === 'SIGKILL' };
    },
    async kill() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
      await exited;
    },
  };
}

// The page connected to the helper as the agent does it (video by default).
function connectViewer(page, helper, options = {}) {
  return wire(page, helper, { video: true, ...options }, {
    candidate: (m) => ({ cmd: 'ice', candidate: { candidate: m.candidate, sdpMid: m.mid } }),
    remote: (e) => e.evt === 'ice' && !!e.candidate && { candidate: e.candidate.candidate, mid: e.candidate.sdpMid },
  });
}

// A page of `browser` with our test script (pages/peer-page.js).
async function newTestPage(browser) {
  const page = await browser.context.newPage();
  await page.goto('about:blank');
  await page.addScriptTag({ path: path.join(__dirname, 'pages', 'peer-page.js') });
  return page;
}

// A helper started and offered to as the agent does it, with a page of its
// own; `end` stops it and says how it ended.
async function startSession(x, browser, { env = {}, wrap = [], start = {}, connect = {} } = {}) {
  const page = await newTestPage(browser);
  const helper = startHelper({ ...x.env, ...env }, wrap);
  helper.send({ cmd: 'start', mode: 'control', ...start });
  await connectViewer(page, helper, connect);
  return {
    page,
    helper,
    async end() {
      const since = Date.now();
      helper.send({ cmd: 'stop' });
      const exit = await helper.exitWithin(15000, since);
      await page.close().catch(() => {});
      return `exit ${exit.code ?? exit.signal} after ${exit.ms} ms`;
    },
  };
}

function videoStats(page) {
  return page.evaluate(() => window.rtcTest.videoStats());
}

// Runs the named cases (all when none are named) one after the other and
// prints each one's figures; answers whether every case ran through.
async function runCases(cases, names, ...args) {
  let ok = true;
  for (const name of names.length ? names : Object.keys(cases)) {
    const started = Date.now();
    try {
      const result = await cases[name](...args);
      console.log(`== ${name} (${((Date.now() - started) / 1000).toFixed(0)} s)`);
      console.log(JSON.stringify(result, null, 2));
    } catch (e) {
      ok = false;
      console.log(`== ${name}: FAILED ${e.stack || e}`);
    }
  }
  return ok;
}

module.exports = {
  pointer, runCases, BUILD_DIR, HELPER, sleep, until, startXvfb, startPainter, startHelper, connectViewer, answerOffer,
  videoStats, newTestPage, startSession,
};
