'use strict';
// End-to-end benchmark: for each kind of screen content, remote-agent starts
// remote-helper on this X display, Chromium views the session, and the page
// reads the frame counter back from decoded video. Then FFmpeg grabs and
// encodes the same content as a baseline. Prints one table.
//
//   node bench/e2e.js [--seconds N] [--warmup N] [--contents a,b] [--no-baseline] [--json FILE]
//
// Needs DISPLAY (a 1920x1080 screen; bench/e2e.sh starts one), a Linux build
// and tests/browser's node_modules.
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '..');
const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.join(ROOT, 'build/linux');
const { chromium } = require(path.join(ROOT, 'tests/browser/node_modules/playwright-core'));
const { CHROMIUM_FLAGS, sleep, until, freePort } = require(path.join(ROOT, 'tests/browser/driver.js'));

const CLOCK_TICKS = Number(execFileSync('getconf', ['CLK_TCK']).toString().trim()) || 100;
const verbose = !!process.env.DRAVNOK_BENCH_VERBOSE;
const say = (...args) => console.error('[bench]', ...args);

function parseArgs(argv) {
  const options = { seconds: 20, warmup: 5, contents: ['static', 'typing', 'scrolling', 'motion'], baseline: true, json: null };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === '--seconds') options.seconds = Number(argv[++i]);
    else if (arg === '--warmup') options.warmup = Number(argv[++i]);
    else if (arg === '--contents') options.contents = argv[++i].split(',');
    else if (arg === '--no-baseline') options.baseline = false;
    else if (arg === '--json') options.json = argv[++i];
    else throw new Error(`unknown option ${arg}`);
  }
  return options;
}

// CPU seconds (all threads) of a process so far.
function cpuSeconds(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return (Number(fields[11]) + Number(fields[12])) / CLOCK_TICKS;
}

function peakRssKiB(pid) {
  const match = fs.readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmHWM:\s+(\d+) kB/);
  return match ? Number(match[1]) : NaN;
}

function percentile(sorted, p) {
  if (!sorted.length) return NaN;
  const rank = (p / 100) * (sorted.length - 1);
  const low = Math.floor(rank);
  const high = Math.ceil(rank);
  return sorted[low] + (sorted[high] - sorted[low]) * (rank - low);
}

function startContent(mode, logPath) {
  const child = spawn(path.join(BUILD_DIR, 'bench/screen_content'), ['--mode', mode, '--log', logPath], { stdio: 'inherit' });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  return {
    async stop() {
      child.kill('SIGTERM');
      await exited;
    },
  };
}

// The counter values the content drew, with their wall-clock times.
function readDrawLog(logPath) {
  const drawn = new Map();
  for (const line of fs.readFileSync(logPath, 'utf8').split('\n')) {
    const [value, ms] = line.split(' ').map(Number);
    if (Number.isFinite(value) && Number.isFinite(ms) && !drawn.has(value)) drawn.set(value, ms);
  }
  return drawn;
}

async function startAgent() {
  const port = await freePort();
  const secret = 'bench-' + Math.random().toString(36).slice(2);
  const agent = spawn(path.join(BUILD_DIR, 'src/agent/remote-agent'),
    ['--listen', `127.0.0.1:${port}`, '--secret', secret, '--mode', 'control', '--viewer-name', 'Bench'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  const log = [];
  agent.stderr.on('data', (d) => {
    const lines = d.toString().split('\n').filter(Boolean);
    log.push(...lines);
    if (verbose) for (const line of lines) say('agent:', line);
  });
  await new Promise((resolve) => agent.stdout.once('data', resolve));
  const exited = new Promise((resolve) => agent.on('exit', resolve));
  return {
    port,
    secret,
    helperPid() {
      for (const line of log) {
        const match = line.match(/remote-helper started \(pid (\d+)\)/);
        if (match) return Number(match[1]);
      }
      return 0;
    },
    async stop() {
      agent.kill('SIGTERM');
      await exited;
    },
  };
}

async function openViewer(port, secret) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-bench-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.DRAVNOK_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 800 },
  });
  const page = context.pages()[0] || (await context.newPage());
  await page.goto(`http://127.0.0.1:${port}/#secret=${secret}`);
  await page.addScriptTag({ path: path.join(__dirname, 'page_probe.js') });
  return {
    page,
    async close() {
      await context.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// One session on the content that is on screen now.
async function measureSession(options, drawLogPath) {
  const agent = await startAgent();
  const viewer = await openViewer(agent.port, agent.secret);
  try {
    const page = viewer.page;
    await until('the connection', async () => {
      const state = await page.textContent('#state');
      return { ok: state === 'connected', value: state };
    }, 30000);
    await until('the frame counter in the video', async () => {
      const value = await page.evaluate(() => window.benchProbe.lastValue());
      return { ok: value >= 0, value };
    }, 30000);
    const pid = agent.helperPid();
    if (!pid) throw new Error('no helper pid in the agent log');
    await sleep(options.warmup * 1000);

    await page.evaluate(() => window.benchProbe.start());
    const before = await page.evaluate(() => window.benchProbe.inbound());
    const cpuBefore = cpuSeconds(pid);
    const wallBefore = Date.now();
    await sleep(options.seconds * 1000);
    const cpuAfter = cpuSeconds(pid);
    const wallAfter = Date.now();
    const after = await page.evaluate(() => window.benchProbe.inbound());
    const probe = await page.evaluate(() => window.benchProbe.stop());
    const rssKiB = peakRssKiB(pid);

    const drawn = readDrawLog(drawLogPath);
    const latencies = [];
    const toReceive = [];
    const afterReceive = [];
    for (const [value, [shownMs, receivedMs]] of probe.seen) {
      if (!drawn.has(value)) continue;
      latencies.push(shownMs - drawn.get(value));
      if (Number.isFinite(receivedMs)) {
        toReceive.push(receivedMs - drawn.get(value));
        afterReceive.push(shownMs - receivedMs);
      }
    }
    latencies.sort((a, b) => a - b);
    toReceive.sort((a, b) => a - b);
    afterReceive.sort((a, b) => a - b);
    const decoded = Math.max(1, after.framesDecoded - before.framesDecoded);
    const seconds = (after.at - before.at) / 1000;
    const frames = after.framesReceived - before.framesReceived;
    const helperCpu = cpuAfter - cpuBefore;
    return {
      p50: percentile(latencies, 50),
      p95: percentile(latencies, 95),
      samples: latencies.length,
      receiveP50: percentile(toReceive, 50),
      jitterBufferMs: (1000 * (after.jitterBufferDelay - before.jitterBufferDelay)) /
        Math.max(1, after.jitterBufferEmittedCount - before.jitterBufferEmittedCount),
      // The browser's share: last packet in to display, and what getStats
      // says about it (processing is first packet in to decoded).
      afterReceiveP50: percentile(afterReceive, 50),
      afterReceiveP95: percentile(afterReceive, 95),
      decodeMs: (1000 * (after.totalDecodeTime - before.totalDecodeTime)) / decoded,
      processingMs: (1000 * (after.totalProcessingDelay - before.totalProcessingDelay)) / decoded,
      framesDropped: after.framesDropped - before.framesDropped,
      drawn: drawn.size,
      fps: (after.framesDecoded - before.framesDecoded) / seconds,
      kbps: ((after.bytesReceived - before.bytesReceived) * 8) / seconds / 1000,
      keyFrames: after.keyFramesDecoded - before.keyFramesDecoded,
      keyFramesTotal: after.keyFramesDecoded,
      size: `${after.width}x${after.height}`,
      unreadable: probe.unreadable,
      cores: helperCpu / ((wallAfter - wallBefore) / 1000),
      cpuMsPerFrame: frames > 0 ? (helperCpu * 1000) / frames : NaN,
      framesReceived: frames,
      peakRssMiB: rssKiB / 1024,
    };
  } finally {
    await viewer.close();
    await agent.stop();
  }
}

// FFmpeg grabbing and encoding the same screen to nowhere.
async function measureBaseline(options) {
  const child = spawn('ffmpeg', [
    '-hide_banner', '-nostats', '-loglevel', 'fatal', '-progress', 'pipe:1',
    '-f', 'x11grab', '-framerate', '30', '-video_size', '1920x1080', '-draw_mouse', '0', '-i', process.env.DISPLAY,
    '-c:v', 'libx264', '-preset', 'ultrafast', '-tune', 'zerolatency', '-pix_fmt', 'nv12', '-profile:v', 'baseline',
    '-f', 'null', '-',
  ], { stdio: ['ignore', 'pipe', 'inherit'] });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  // A progress block ends with "progress=continue"; sample CPU right then.
  let frame = 0;
  const samples = [];
  let buffer = '';
  child.stdout.on('data', (d) => {
    buffer += d.toString();
    let end;
    while ((end = buffer.indexOf('\n')) >= 0) {
      const line = buffer.slice(0, end);
      buffer = buffer.slice(end + 1);
      const match = line.match(/^frame=(\d+)/);
      if (match) frame = Number(match[1]);
      if (line.startsWith('progress=')) {
        try {
          samples.push({ at: Date.now(), frame, cpu: cpuSeconds(child.pid) });
        } catch {
          /* ended */
        }
      }
    }
  });
  try {
    await sleep(options.warmup * 1000);
    const first = samples.length;
    await sleep(options.seconds * 1000);
    const a = samples[first];
    const b = samples[samples.length - 1];
    if (!a || !b || b.frame <= a.frame) throw new Error('FFmpeg made no progress');
    return {
      cpuMsPerFrame: ((b.cpu - a.cpu) * 1000) / (b.frame - a.frame),
      fps: (b.frame - a.frame) / ((b.at - a.at) / 1000),
      cores: (b.cpu - a.cpu) / ((b.at - a.at) / 1000),
    };
  } finally {
    child.kill('SIGTERM');
    await exited;
  }
}

function fmt(value, digits = 0) {
  return Number.isFinite(value) ? value.toFixed(digits) : '-';
}

function printTable(rows) {
  const header = ['content', 'lat p50 ms', 'lat p95 ms', 'n', 'to recv p50', 'jb ms', 'fps', 'kbit/s', 'key frames',
    'helper cores', 'peak RSS MiB', 'CPU ms/frame', 'ffmpeg ms/frame', 'ratio', 'ffmpeg cores'];
  const lines = rows.map((r) => [
    r.content, fmt(r.session.p50), fmt(r.session.p95), String(r.session.samples), fmt(r.session.receiveP50),
    fmt(r.session.jitterBufferMs), fmt(r.session.fps, 1),
    fmt(r.session.kbps), String(r.session.keyFrames), fmt(r.session.cores, 2), fmt(r.session.peakRssMiB),
    fmt(r.session.cpuMsPerFrame, 1), r.baseline ? fmt(r.baseline.cpuMsPerFrame, 1) : '-',
    r.baseline ? fmt(r.session.cpuMsPerFrame / r.baseline.cpuMsPerFrame, 2) : '-',
    r.baseline ? fmt(r.baseline.cores, 2) : '-',
  ]);
  const widths = header.map((h, i) => Math.max(h.length, ...lines.map((l) => l[i].length)));
  const row = (cells) => '| ' + cells.map((c, i) => c.padEnd(widths[i])).join(' | ') + ' |';
  console.log(row(header));
  console.log('|' + widths.map((w) => '-'.repeat(w + 2)).join('|') + '|');
  for (const l of lines) console.log(row(l));
}

async function main() {
  const options = parseArgs(process.argv.slice(2));
  if (!process.env.DISPLAY) throw new Error('no DISPLAY');
  const rows = [];
  for (const content of options.contents) {
    const drawLog = path.join(os.tmpdir(), `dravnok-bench-${process.pid}-${content}.log`);
    const screen = startContent(content, drawLog);
    try {
      await sleep(1000);
      say(`${content}: session`);
      const session = await measureSession(options, drawLog);
      let baseline = null;
      if (options.baseline) {
        say(`${content}: ffmpeg baseline`);
        baseline = await measureBaseline(options);
      }
      rows.push({ content, session, baseline });
      if (verbose) say(JSON.stringify(rows[rows.length - 1]));
    } finally {
      await screen.stop();
      fs.rmSync(drawLog, { force: true });
    }
  }
  if (options.json) fs.writeFileSync(options.json, JSON.stringify(rows, null, 2));
  printTable(rows);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
