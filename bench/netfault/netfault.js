'use strict';
// remote-helper and Chromium on the two ends of a veth link between two
// network namespaces, with a delaying, lossy bridge in the way. Prints what the helper's
// rate controller and the browser's receiver did under each fault.
//   node bench/netfault/netfault.js [bottleneck|loss|cut|turn ...]
// Needs root (ip netns, tc) and a built tree (build/linux).
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const id = process.pid % 100000;
const NS_HELPER = `dvkh${id}`;
const NS_BROWSER = `dvkb${id}`;
const NS_BRIDGE = `dvkr${id}`;
const DEV_HELPER = `vh${id}`;
const DEV_BROWSER = `vb${id}`;
const BRIDGE_HELPER_SIDE = `rh${id}`;
const BRIDGE_BROWSER_SIDE = `rb${id}`;
const HELPER_ADDRESS = '10.201.0.1';
const BROWSER_ADDRESS = '10.201.0.2';

// The browser runs inside its namespace through a wrapper that playwright
// starts like the real program.
const wrapper = path.join(os.tmpdir(), `dravnok-netns-chromium-${id}.sh`);
fs.writeFileSync(wrapper, `#!/bin/sh\nexec ip netns exec ${NS_BROWSER} /usr/bin/chromium "$@"\n`, { mode: 0o755 });
process.env.DRAVNOK_CHROMIUM = wrapper;

const browserDir = path.resolve(__dirname, '../../tests/browser');
const { launchBrowser, sleep, until, startXvfb, videoStats } = require(path.join(browserDir, 'driver'));
const { runCases, startSession } = require('../browser_session');

function run(...argv) {
  execFileSync(argv[0], argv.slice(1), { stdio: ['ignore', 'ignore', 'pipe'] });
}

// helper namespace -- veth -- bridge namespace -- veth -- browser namespace.
// This kernel has no netem, so the middle namespace runs bridge.py, which
// forwards the frames with the delay, loss, rate limit or cut of the case.
let bridge;
async function makeLink() {
  for (const ns of [NS_HELPER, NS_BROWSER, NS_BRIDGE]) run('ip', 'netns', 'add', ns);
  for (const [ns, dev, bridgeDev, address] of [
    [NS_HELPER, DEV_HELPER, BRIDGE_HELPER_SIDE, HELPER_ADDRESS],
    [NS_BROWSER, DEV_BROWSER, BRIDGE_BROWSER_SIDE, BROWSER_ADDRESS],
  ]) {
    run('ip', 'link', 'add', dev, 'type', 'veth', 'peer', 'name', bridgeDev);
    run('ip', 'link', 'set', dev, 'netns', ns);
    run('ip', 'link', 'set', bridgeDev, 'netns', NS_BRIDGE);
    run('ip', '-n', ns, 'addr', 'add', `${address}/24`, 'dev', dev);
    run('ip', '-n', ns, 'link', 'set', dev, 'up');
    // Checksums left to the (virtual) hardware would cross the bridge unset.
    run('ip', 'netns', 'exec', ns, 'ethtool', '-K', dev, 'tx', 'off');
    run('ip', '-n', ns, 'link', 'set', 'lo', 'up');
    run('ip', '-n', NS_BRIDGE, 'link', 'set', bridgeDev, 'up');
  }
  const child = spawn('ip', ['netns', 'exec', NS_BRIDGE, '/usr/bin/python3', path.join(__dirname, 'bridge.py'),
    BRIDGE_HELPER_SIDE, BRIDGE_BROWSER_SIDE], { stdio: ['pipe', 'pipe', 'inherit'] });
  const replies = [];
  let waiting = null;
  require('node:readline').createInterface({ input: child.stdout }).on('line', (line) => {
    replies.push(line);
    if (waiting) waiting();
  });
  bridge = {
    child,
    async send(command) {
      const before = replies.length;
      child.stdin.write(JSON.stringify(command) + '\n');
      while (replies.length === before) await new Promise((resolve) => (waiting = resolve));
      return replies[replies.length - 1];
    },
  };
  await bridge.send({});
}

function removeLink() {
  if (bridge) bridge.child.kill('SIGKILL');
  for (const ns of [NS_HELPER, NS_BROWSER, NS_BRIDGE]) {
    try {
      run('ip', 'netns', 'del', ns);
    } catch {
      /* already gone */
    }
  }
  fs.rmSync(wrapper, { force: true });
}

// Settings of each direction: `toBrowser` shapes the video, `toHelper` the
// RTCP that comes back (see bridge.py for the keys).
function shape(toBrowser, toHelper) {
  return bridge.send({ ab: toBrowser, ba: toHelper });
}

// A moving, noisy picture, so that the encoder always wants more than the
// bottleneck gives.
function startPicture(env) {
  const child = spawn('ffplay', ['-loglevel', 'quiet', '-noborder', '-left', '0', '-top', '0', '-an', '-f', 'lavfi',
    '-i', 'testsrc2=size=1280x720:rate=30,noise=alls=24:allf=t'], { env: { ...env, SDL_VIDEODRIVER: 'x11' }, stdio: 'ignore' });
  return { stop: () => child.kill('SIGKILL') };
}

function ccLines(helper, since) {
  return helper.log.events
    .filter((e) => e.evt === 'log' && /^cc: target=/.test(e.msg) && e.at >= since)
    .map((e) => {
      const m = e.msg.match(/target=(\d+)kbps fps=(\d+) remb=(\d+)kbps loss=([\d.]+)% rtt=(-?\d+)ms egress=(\d+)kbps pacerQ=(-?\d+)ms nacks=(\d+) plis=(\d+)/);
      const enc = e.msg.match(/enc fps=([\d.]+)/);
      return m && { encFps: enc ? +enc[1] : null, at: e.at, target: +m[1], fps: +m[2], remb: +m[3], loss: +m[4], rtt: +m[5], egress: +m[6], queue: +m[7], nacks: +m[8], plis: +m[9] };
    })
    .filter(Boolean);
}

// Browser statistics every 250 ms for `ms`; the longest time without a
// newly decoded frame and the received bitrate come from these samples.
const browserStates = [];
async function watch(page, ms) {
  const samples = [];
  const end = Date.now() + ms;
  while (Date.now() < end) {
    const s = await videoStats(page).catch(() => null);
    if (s) samples.push({ t: Date.now(), ...s });
    const state = await page.evaluate(() => window.rtcTest.pc.connectionState).catch(() => 'gone');
    if (browserStates.length === 0 || !browserStates[browserStates.length - 1].startsWith(state + '@')) {
      browserStates.push(`${state}@${new Date().toISOString().slice(17, 23)}`);
    }
    await sleep(250);
  }
  return samples;
}

function summarise(samples) {
  if (samples.length < 2) return { samples: samples.length };
  const first = samples[0];
  const last = samples[samples.length - 1];
  let longestStall = 0;
  let lastNew = first.t;
  for (let i = 1; i < samples.length; i++) {
    if (samples[i].framesDecoded > samples[i - 1].framesDecoded) lastNew = samples[i].t;
    longestStall = Math.max(longestStall, samples[i].t - lastNew);
  }
  const seconds = (last.t - first.t) / 1000;
  return {
    seconds: +seconds.toFixed(1),
    receivedKbps: Math.round(((last.bytesReceived - first.bytesReceived) * 8) / seconds / 1000),
    framesDecoded: last.framesDecoded - first.framesDecoded,
    fps: +((last.framesDecoded - first.framesDecoded) / seconds).toFixed(1),
    longestStallMs: longestStall,
    freezes: last.freezeCount - first.freezeCount,
    nacksSent: last.nackCount - first.nackCount,
    plisSent: last.pliCount - first.pliCount,
    keyFramesDecoded: last.keyFramesDecoded - first.keyFramesDecoded,
    packetsReceived: last.packetsReceived - first.packetsReceived,
    packetsLost: last.packetsLost - first.packetsLost,
  };
}

async function session(x, browser, iceServers = [], policy = 'all') {
  const s = await startSession(x, browser, {
    wrap: ['ip', 'netns', 'exec', NS_HELPER],
    start: { sessionId: 'netfault', viewerName: 'Net', iceServers },
    connect: { iceTransportPolicy: policy, iceServers: iceServers.map((v) => ({ urls: v.urls, username: v.username, credential: v.credential })) },
  });
  await until('decoded video', async () => {
    const v = await videoStats(s.page);
    return { ok: !!v && v.framesDecoded >= 30, value: v };
  }, 30000);
  return s;
}

const CASES = {
  // 2 Mbit/s towards the browser with a 250 ms queue.
  async bottleneck(x, browser) {
    await shape({ delayMs: 10 }, { delayMs: 10 });
    const s = await session(x, browser);
    const since = s.helper.log.events[s.helper.log.events.length - 1].at;
    await shape({ delayMs: 10, rateKbps: 2000, queueMs: 250 }, { delayMs: 10 });
    const samples = await watch(s.page, 25000);
    const cc = ccLines(s.helper, since);
    const settled = cc.findIndex((c, i) => cc.slice(i).every((d) => d.target < 2000));
    return {
      fault: '2 Mbit/s bottleneck, 10 ms each way',
      targets: cc.map((c) => `${((c.at - since) / 1000).toFixed(1)}s:${c.target}kbps/${c.fps}fps(enc ${c.encFps})`).join(' '),
      settledBelow2000After: settled >= 0 ? `${((cc[settled].at - since) / 1000).toFixed(1)} s` : 'never',
      first10s: summarise(samples.filter((p) => p.t - samples[0].t <= 10000)),
      last15s: summarise(samples.filter((p) => p.t - samples[0].t >= 10000)),
      end: await s.end(),
    };
  },
  // 5 % random loss and 50 ms delay in each direction.
  async loss(x, browser) {
    await shape({ delayMs: 10 }, { delayMs: 10 });
    const s = await session(x, browser);
    const since = s.helper.log.events[s.helper.log.events.length - 1].at;
    await shape({ delayMs: 50, loss: 0.05 }, { delayMs: 50, loss: 0.05 });
    const samples = await watch(s.page, 20000);
    const cc = ccLines(s.helper, since);
    const sum = summarise(samples);
    return {
      fault: '5 % loss, 50 ms delay, each way',
      cc: cc.map((c) => `target=${c.target} loss=${c.loss}% rtt=${c.rtt} nacks=${c.nacks} plis=${c.plis}`).join(' | '),
      browser: sum,
      residualLossPercent: +((100 * sum.packetsLost) / Math.max(1, sum.packetsReceived + sum.packetsLost)).toFixed(2),
      end: await s.end(),
    };
  },
  // Nothing passes for 5 s, then the link comes back.
  async cut(x, browser) {
    await shape({ delayMs: 10 }, { delayMs: 10 });
    const s = await session(x, browser);
    await watch(s.page, 8000); // let the controller find its rate
    const cutAt = s.helper.log.events[s.helper.log.events.length - 1].at;
    await shape({ cut: true }, { cut: true });
    // What the helper still sends into the dead link, per second.
    const offered = [];
    let previous = JSON.parse((await bridge.send({})).slice(3)).a.bytes;
    const during = [];
    for (let second = 0; second < 5; second++) {
      during.push(...(await watch(s.page, 1000)));
      const now = JSON.parse((await bridge.send({})).slice(3)).a.bytes;
      offered.push(Math.round(((now - previous) * 8) / 1000));
      previous = now;
    }
    await shape({ delayMs: 10 }, { delayMs: 10 });
    const after = await watch(s.page, 20000);
    const cc = ccLines(s.helper, cutAt - 10000);
    const states = s.helper.log.events.filter((e) => e.evt === 'state').map((e) => `${e.value}@${((e.at - cutAt) / 1000).toFixed(1)}s`);
    return {
      fault: 'link cut for 5 s, then restored',
      targets: cc.map((c) => `${((c.at - cutAt) / 1000).toFixed(1)}s:${c.target}kbps`).join(' '),
      states: states.join(' '),
      helperSendsDuringCutKbpsPerSecond: offered.join(' '),
      helperWarnings: s.helper.log.events.filter((e) => e.evt === 'log' && e.level !== 'info' && e.at > cutAt)
        .map((e) => `${((e.at - cutAt) / 1000).toFixed(1)}s ${e.msg}`).join(' | '),
      browserStates: browserStates.join(' '),
      duringCut: summarise(during),
      afterRestore: summarise(after),
      restoredAt: '5.0s',
      end: await s.end(),
    };
  },
  // Only relayed candidates in the browser, through coturn in the helper's namespace.
  async turn(x, browser) {
    await shape({ delayMs: 10 }, { delayMs: 10 });
    const port = 34780;
    const password = 'relay-' + Math.random().toString(36).slice(2);
    const turn = spawn('ip', ['netns', 'exec', NS_HELPER, 'turnserver', '-n', `--listening-ip=${HELPER_ADDRESS}`,
      `--relay-ip=${HELPER_ADDRESS}`, `--listening-port=${port}`, '--min-port=49152', '--max-port=65000', '--lt-cred-mech',
      `--user=dravnok:${password}`, '--realm=dravnok.test', '--fingerprint', '--no-tls', '--no-dtls', '--no-cli',
      '--allow-loopback-peers', '--log-file=stdout', '--simple-log'], { stdio: 'ignore' });
    const turnExited = new Promise((resolve) => turn.on('exit', resolve));
    try {
      await sleep(1000);
      const servers = [{ urls: `turn:${HELPER_ADDRESS}:${port}?transport=udp`, username: 'dravnok', credential: password }];
      const s = await session(x, browser, servers, 'relay');
      const type = await s.page.evaluate(async () => {
        const stats = [...(await window.rtcTest.pc.getStats()).values()];
        const pair = stats.find((p) => p.type === 'candidate-pair' && p.nominated && p.state === 'succeeded');
        return pair && stats.find((c) => c.id === pair.localCandidateId).candidateType;
      });
      const samples = await watch(s.page, 15000);
      const cc = ccLines(s.helper, 0);
      return {
        fault: 'TURN only (browser relay policy, coturn)',
        browserCandidate: type,
        lastTarget: cc.length ? cc[cc.length - 1].target : null,
        browser: summarise(samples),
        end: await s.end(),
      };
    } finally {
      turn.kill('SIGTERM');
      await turnExited;
    }
  },
};

async function main() {
  let x;
  let picture;
  let browser;
  await makeLink();
  const cleanup = () => removeLink();
  process.on('SIGINT', () => {
    cleanup();
    process.exit(130);
  });
  let failed = false;
  try {
    x = await startXvfb();
    picture = startPicture(x.env);
    browser = await launchBrowser();
    failed = !(await runCases(CASES, process.argv.slice(2), x, browser));
  } finally {
    if (browser) await browser.close();
    if (picture) picture.stop();
    if (x) await x.stop();
    cleanup();
  }
  process.exit(failed ? 1 : 0);
}

main();
