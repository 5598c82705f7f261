'use strict';
// A whole session as a supporter has it: remote-agent serves the viewer
// page, starts remote-helper on a private X desktop, and the page in
// Chromium connects, receives the monitor list and controls the pointer.
const test = require('node:test');
const assert = require('node:assert');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const net = require('node:net');
const { chromium } = require('playwright-core');
const { CHROMIUM_FLAGS } = require('../harness');

const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.resolve(__dirname, '../../../build/linux');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

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
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function startXvfb() {
  for (let display = 160; display < 200; display++) {
    if (fs.existsSync(`/tmp/.X${display}-lock`)) continue;
    const server = spawn('Xvfb', [`:${display}`, '-screen', '0', '1280x720x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
    const env = { ...process.env, DISPLAY: `:${display}` };
    for (let i = 0; i < 50; i++) {
      try {
        execFileSync('xdpyinfo', [], { env, stdio: 'ignore' });
        return { server, env };
      } catch {
        await sleep(100);
      }
    }
    server.kill();
  }
  throw new Error('no Xvfb');
}

function bannerShown(env) {
  try {
    execFileSync('xdotool', ['search', '--onlyvisible', '--class', 'DravnokRemoteSessionBanner'], { env, stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}

function pointer(env) {
  const out = execFileSync('xdotool', ['getmouselocation'], { env }).toString();
  const [, x, y] = out.match(/x:(\d+) y:(\d+)/);
  return { x: Number(x), y: Number(y) };
}

async function startAgent(env, mode) {
  const port = await freePort();
  const agent = spawn(path.join(BUILD_DIR, 'src/agent/remote-agent'),
    ['--listen', `127.0.0.1:${port}`, '--secret', 'test-secret', '--mode', mode, '--viewer-name', 'Ann'],
    { env, stdio: ['ignore', 'pipe', 'pipe'] });
  const log = [];
  agent.stderr.on('data', (d) => log.push(...d.toString().split('\n').filter(Boolean)));
  await new Promise((resolve) => agent.stdout.once('data', resolve));
  const exited = new Promise((resolve) => agent.on('exit', resolve));
  return { port, log, async stop() { agent.kill('SIGTERM'); await exited; } };
}

async function openViewer(port, secret) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-viewer-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.DRAVNOK_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 800 },
  });
  const page = context.pages()[0] || (await context.newPage());
  await page.goto(`http://127.0.0.1:${port}/#secret=${secret}`);
  return {
    page,
    async close() {
      await context.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A private desktop, an agent on it and a viewer page; torn down with the test.
async function startSession(t, { mode = 'control', secret = 'test-secret', env = {} } = {}) {
  const x = await startXvfb();
  const agent = await startAgent({ ...x.env, ...env }, mode);
  const viewer = await openViewer(agent.port, secret);
  t.after(async () => {
    await viewer.close();
    await agent.stop();
    x.server.kill();
  });
  return { x, agent, viewer };
}

test('a controlling session: the page connects, gets the monitor list and moves the pointer', async (t) => {
  const { x, agent, viewer } = await startSession(t);
  const page = viewer.page;

  await until('the connection', async () => {
    const state = await page.textContent('#state');
    return { ok: state === 'connected', value: state };
  });
  const monitors = await until('the monitor list', async () => {
    const list = await page.evaluate(() => window.dravnokViewer.monitors);
    return { ok: !!list, value: list };
  });
  await until('the banner', async () => ({ ok: bannerShown(x.env), value: false }));
  assert.deepStrictEqual(monitors, {
    type: 'monitors', clip: true, clipwatch: true, active: 0, count: 1,
    list: [{ i: 0, w: 1280, h: 720, primary: true }],
  });

  // The screen's colour reaches the page as decoded video.
  execFileSync('xsetroot', ['-solid', '#1e50c8'], { env: x.env });
  const pixel = await until('decoded video of the screen', async () => {
    const p = await page.evaluate(() => {
      const video = document.getElementById('video');
      if (!video.videoWidth) return null;
      const canvas = document.createElement('canvas');
      canvas.width = video.videoWidth;
      canvas.height = video.videoHeight;
      const context = canvas.getContext('2d');
      context.drawImage(video, 0, 0);
      return { size: [video.videoWidth, video.videoHeight], rgb: Array.from(context.getImageData(20, 20, 1, 1).data.slice(0, 3)) };
    });
    const close = p && Math.abs(p.rgb[0] - 0x1e) < 24 && Math.abs(p.rgb[1] - 0x50) < 24 && Math.abs(p.rgb[2] - 0xc8) < 24;
    return { ok: close, value: p };
  }, 30000);
  assert.deepStrictEqual(pixel.size, [1280, 720]);

  await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.25, y: 0.5 }));
  await until('the pointer to move', async () => {
    const p = pointer(x.env);
    return { ok: Math.abs(p.x - 320) <= 1 && Math.abs(p.y - 360) <= 1, value: p };
  });

  await page.click('#disconnect');
  await until('the helper to end', async () => ({
    ok: agent.log.some((line) => /remote-helper exited with code 0/.test(line)), value: agent.log.slice(-5),
  }));
  assert.strictEqual(bannerShown(x.env), false);
});

test('a wrong secret is refused and no helper starts', async (t) => {
  const { x, agent, viewer } = await startSession(t, { secret: 'wrong' });
  await until('the refusal', async () => {
    const state = await viewer.page.textContent('#state');
    return { ok: state === 'wrong secret', value: state };
  });
  assert.ok(!agent.log.some((line) => /remote-helper started/.test(line)));
});

test('a view-only session refuses files and injects nothing', async (t) => {
  const { x, agent, viewer } = await startSession(t, { mode: 'view-only' });
  const page = viewer.page;
  await until('the monitor list', async () => {
    const list = await page.evaluate(() => window.dravnokViewer.monitors);
    return { ok: !!list, value: list };
  });
  assert.strictEqual(await page.isHidden('#sas'), true);
  assert.strictEqual(await page.isHidden('#side'), true);
  const before = pointer(x.env);
  await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.9, y: 0.9 }));
  await sleep(500);
  assert.deepStrictEqual(pointer(x.env), before);
  assert.ok(agent.log.some((line) => /files channel refused \(view-only session\)/.test(line)), agent.log.join('\n'));
});

test('files: a 64 MiB file downloads and another uploads byte-exact', async (t) => {
  const crypto = require('node:crypto');
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-home-'));
  fs.mkdirSync(path.join(home, 'Downloads'));
  const data = crypto.randomBytes(64 * 1024 * 1024);
  fs.writeFileSync(path.join(home, 'big.bin'), data);
  const { viewer } = await startSession(t, { env: { HOME: home, XDG_CONFIG_HOME: home } });
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const page = viewer.page;
  const listing = await until('the home listing', async () => {
    const files = await page.evaluate(() => window.dravnokViewer.files && {
      path: window.dravnokViewer.files.path, names: window.dravnokViewer.files.entries.map((e) => e.n) });
    return { ok: !!files && files.path === home, value: files };
  });
  assert.ok(listing.names.includes('big.bin') && listing.names.includes('Downloads'), JSON.stringify(listing));

  await page.evaluate((file) => window.dravnokViewer.files.get(file), path.join(home, 'big.bin'));
  const digest = await until('the download', async () => {
    const d = await page.evaluate(async () => {
      const done = window.dravnokViewer.files.completed[0];
      if (!done) return null;
      const bytes = await done.blob.arrayBuffer();
      const hash = await crypto.subtle.digest('SHA-256', bytes);
      return Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('');
    });
    return { ok: !!d, value: d };
  }, 60000);
  assert.strictEqual(digest, crypto.createHash('sha256').update(data).digest('hex'));

  // The upload is made in the page, so that only its digest crosses over.
  const sent = await page.evaluate(async (size) => {
    const bytes = new Uint8Array(size);
    for (let i = 0; i < size; i += 65536) crypto.getRandomValues(bytes.subarray(i, Math.min(size, i + 65536)));
    const files = window.dravnokViewer.files;
    files.list(files.downloads);
    while (files.path !== files.downloads) await new Promise((r) => setTimeout(r, 50));
    const reply = await files.put(new File([bytes], 'up.bin'));
    const hash = await crypto.subtle.digest('SHA-256', bytes);
    return { reply, digest: Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('') };
  }, 64 * 1024 * 1024 + 123);
  assert.strictEqual(sent.reply.t, 'put-ok');
  assert.strictEqual(sent.reply.received, 64 * 1024 * 1024 + 123);
  const written = fs.readFileSync(path.join(home, 'Downloads', 'up.bin'));
  assert.strictEqual(crypto.createHash('sha256').update(written).digest('hex'), sent.digest);
});
