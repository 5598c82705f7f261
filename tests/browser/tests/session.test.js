'use strict';
// A whole session as a supporter has it: remote-agent serves the viewer
// page, starts remote-helper on a private X desktop, and the page in
// Chromium connects, shows the picture, controls the desktop and moves the
// clipboard and files; and the page's files panel against a made-up host.
const test = require('node:test');
const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawn } = require('node:child_process');
const {
  launchBrowser, sleep, poll, startJsonChild, startXvfb, pointer, pointerReaches, windowGeometries, SECRET,
  startAgent, monitorList, videoPixel, videoSize, near, readXClipboard, writeXClipboard, downloadDigest, uploadRandom,
  filesListing, startTurn,
} = require('../driver');

// Xorg with the dummy driver: monitor A at 0,0 and B at 1920,0, each
// 1920x1080. The server lives as long as the helper script's standard input
// stays open.
async function startTwoMonitorDisplay() {
  const script = path.resolve(__dirname, '../../lib/two_monitor_display.py');
  const server = startJsonChild(['python3', script, '--', 'sh', '-c', 'echo "$DISPLAY"; exec cat >/dev/null'],
    process.env, 'display');
  const { line } = await server.waitFor((e) => e.line, 30000, 'the two-monitor display');
  return { env: { ...process.env, DISPLAY: line.trim() }, stop: () => server.stop() };
}

// The desktop's background: a solid colour on each monitor, as a tile of
// one row as wide as the screen.
function paintMonitors(env, left, right) {
  const bits = [...Array(240).fill('0xff'), ...Array(240).fill('0x00')];
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-tile-')), 'tile.xbm');
  fs.writeFileSync(file, `#define t_width 3840\n#define t_height 1\nstatic char t_bits[] = {\n${bits.join(',\n')}};\n`);
  execFileSync('xsetroot', ['-bitmap', file, '-fg', `#${left}`, '-bg', `#${right}`], { env });
  fs.rmSync(path.dirname(file), { recursive: true });
}

// The button and key events that reach the root window, as xev reports
// them: {e, button, x, y} or {e, key}.
function watchRootInput(env) {
  const xev = spawn('xev', ['-root', '-event', 'button', '-event', 'keyboard'], { env, stdio: ['ignore', 'pipe', 'ignore'] });
  let text = '';
  xev.stdout.on('data', (d) => (text += d));
  const pattern = /(\w+) event,[^]*?root:\((\d+),(\d+)\)[^]*?(?:button (\d+)|keysym 0x\w+, (\w+)\))/g;
  return {
    events: () => [...text.matchAll(pattern)].map(([, e, x, y, button, key]) =>
      (key ? { e, key } : { e, button: Number(button), x: Number(x), y: Number(y) })),
    stop: () => xev.kill(),
  };
}

// Position and size of the banner window, or null while there is none.
const bannerGeometry = (env) => windowGeometries(env, '--class', 'DravnokRemoteSessionBanner')[0] || null;

// A private desktop (one 1280x720 monitor, or two of 1920x1080 side by
// side), an agent with the ICE servers `ice` and a viewer page that runs
// `init` first; torn down with the test.
async function startSession(t, { mode = 'control', secret = SECRET, env = {}, twoMonitors = false, ice, init } = {}) {
  const x = twoMonitors ? await startTwoMonitorDisplay() : await startXvfb('1280x720x24');
  const agent = await startAgent({ ...x.env, ...env }, { mode, ice, alone: true });
  const viewer = await launchBrowser(`http://127.0.0.1:${agent.port}/#secret=${secret}`, init);
  t.after(async () => {
    await viewer.close();
    await agent.stop();
    await x.stop();
  });
  return { x, agent, viewer };
}

// Page helpers: random opaque pixels as a PNG (random pixels do not
// compress, so 320 x 320 gives about 300 KB), and the pixels of a PNG.
const PAGE_PNG_HELPERS = `
  window.randomPng = async (width, height) => {
    const pixels = new Uint8ClampedArray(width * height * 4);
    for (let i = 0; i < pixels.length; i += 65536) crypto.getRandomValues(pixels.subarray(i, Math.min(pixels.length, i + 65536)));
    for (let i = 3; i < pixels.length; i += 4) pixels[i] = 255;
    const canvas = new OffscreenCanvas(width, height);
    canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
    return new Uint8Array(await (await canvas.convertToBlob({ type: 'image/png' })).arrayBuffer());
  };
  window.pngPixelDigest = async (bytes) => {
    const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }),
      { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext('2d');
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
    const hash = await crypto.subtle.digest('SHA-256', pixels);
    return bitmap.width + 'x' + bitmap.height + ':' + Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('');
  };
  window.fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
`;

test('a wrong secret starts nothing; a view-only session refuses files and injects nothing; the files panel', async (t) => {
  const { x, agent, viewer } = await startSession(t, { mode: 'view-only', secret: 'wrong' });
  const page = viewer.page;
  await poll('the refusal', () => page.textContent('#state'), (state) => state === 'wrong secret');
  assert.ok(!agent.logged(/remote-helper started/));
  await page.goto('about:blank');
  await page.goto(agent.url);
  await monitorList(page);
  assert.strictEqual(await page.isHidden('#sas'), true);
  assert.strictEqual(await page.isHidden('#side'), true);
  const before = pointer(x.env);
  await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.9, y: 0.9 }));
  await sleep(500);
  assert.deepStrictEqual(pointer(x.env), before);
  assert.ok(agent.logged(/files channel refused \(view-only session\)/), agent.log.join('\n'));

  // The files panel against a made-up host on a fake channel: an "error"
  // ends only the transfer it belongs to, and an upload that the host gives
  // up settles, so the next one can start.
  const outcome = await page.evaluate(async () => {
    const { FileBrowser } = await import('./files.js');
    const channel = new EventTarget();
    Object.assign(channel, { readyState: 'open', bufferedAmount: 0, sent: [], send(m) { this.sent.push(m); } });
    const ui = Object.fromEntries(['list', 'path', 'transfer', 'transferLabel', 'transferProgress'].map((k) =>
      [k, document.createElement(k === 'list' ? 'ul' : k === 'transferProgress' ? 'progress' : 'span')]));
    const files = new FileBrowser(channel, ui);
    const host = (data) =>
      channel.dispatchEvent(new MessageEvent('message', { data: data.byteLength ? data : JSON.stringify(data) }));
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    // What an upload came to, or "pending" when it has not settled.
    const settled = (upload) =>
      Promise.race([upload.then((r) => `ok ${r.path}`, (e) => `failed: ${e.message}`), sleep(2000).then(() => 'pending')]);
    const until = async (condition) => {
      for (let i = 0; i < 200 && !condition(); i++) await sleep(10);
    };

    // A download and an upload run while a listing fails.
    host({ t: 'get-meta', name: 'a.txt', size: 3 });
    const upload = files.put(new File(['xyz'], 'b.txt'));
    host({ t: 'put-ready', path: '/d/b.txt' });
    await until(() => channel.sent.includes('{"t":"put-done"}'));
    host({ t: 'error', msg: 'cannot open /nowhere' });
    host(new Uint8Array([1, 2, 3]).buffer);
    host({ t: 'get-done', name: 'a.txt' });
    host({ t: 'put-ok', path: '/d/b.txt', received: 3, msg: '' });
    const both = await settled(upload);
    const downloaded = files.completed.map((c) => `${c.name} ${c.blob.size}`);

    // A download asked for before the host finished the upload: the host drops it.
    const dropped = files.put(new File(['q'], 'c.txt'));
    files.get('/x/y.bin');
    host({ t: 'put-ready', path: '/d/c.txt' });
    const abandoned = await settled(dropped);
    const refused = files.put(new File(['r'], 'e.txt'));
    host({ t: 'error', msg: 'cannot write to /d/e.txt' });
    return { both, downloaded, abandoned, next: await settled(refused) };
  });
  assert.deepStrictEqual(outcome, {
    both: 'ok /d/b.txt',
    downloaded: ['a.txt 3'],
    abandoned: 'failed: the upload was stopped by a download',
    next: 'failed: cannot write to /d/e.txt',
  });

  // The support server's envelope as the page opens it: each message once,
  // in order, under the session's key and direction; its form is checked
  // before any decryption. The fixed message pins the format the agent reads.
  const envelope = await page.evaluate(async () => {
    const link = await import('./link.js');
    const secret = new Uint8Array(32).fill(7);
    const sid = new Uint8Array(16).fill(1);
    const keys = await link.sessionKeys(secret, sid);
    const otherSession = await link.sessionKeys(secret, new Uint8Array(16).fill(2));
    const opener = new link.Opener(keys.toViewer, link.TO_VIEWER, sid);
    const seal = (seq, { key = keys.toViewer, direction = link.TO_VIEWER } = {}) =>
      link.seal(key, direction, sid, seq, { n: seq });
    const open = async (bytes) => JSON.stringify(await opener.open(bytes));
    const [m0, m1, m2] = [await seal(0), await seal(1), await seal(2)];
    const order = [await open(m0), await open(m2), await open(m1), await open(m2)];
    const tampered = (await seal(10)).map((b, i) => (i === 40 ? b ^ 1 : b));
    const otherSid = (await seal(11)).map((b, i) => (i === 2 ? b ^ 1 : b));
    const oversized = new Uint8Array(65537);
    oversized.set(await seal(15));
    const refused = [tampered, otherSid, await seal(12, { key: otherSession.toViewer }),
      await seal(13, { key: keys.toHost, direction: link.TO_HOST }), (await seal(14)).subarray(0, 41), oversized];
    for (const bytes of refused) order.push(await open(bytes));
    order.push(await open(await seal(20)));
    const fixed = await link.seal(keys.toHost, link.TO_HOST, sid, 258, { t: 'hello' });
    const host = link.userSeedText(await link.hostSeed(secret));
    return { order, fixed: link.base64url(fixed), host, link: link.base64url(link.secretFromFragment('#k=' +
      link.base64url(secret))) };
  });
  assert.deepStrictEqual(envelope, {
    order: ['{"n":0}', '{"n":2}', 'null', 'null', 'null', 'null', 'null', 'null', 'null', 'null', '{"n":20}'],
    fixed: 'AQEBAQEBAQEBAQEBAQEBAQEBAAAAAAAAAQIPtFCPxIBqb5Sw1LFO0bxPybI3GlJ_5TINsa0yjw',
    host: 'SUAORB46IGMH2S5C55QGAQNDCG7QCIP2J2UCQCTWFVBKMM63UEPURJKC7I',
    link: 'BwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwc',
  });
});

test('two monitors through a TURN relay: the picture, input, clipboard, files, a monitor switch, the log', async (t) => {
  const RED = 'c83232', GREEN = '32c850';
  // A home folder of its own for the files panel.
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-home-'));
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  fs.mkdirSync(path.join(home, 'Downloads'));
  const data = crypto.randomBytes(64 * 1024 * 1024);
  fs.writeFileSync(path.join(home, 'big.bin'), data);
  // The page takes relayed candidates only, so every message of the data
  // channels crosses the relay; the direct path is what the other sessions
  // take.
  const turn = await startTurn();
  t.after(() => turn.stop());
  const { x, agent, viewer } = await startSession(t, {
    twoMonitors: true,
    env: { HOME: home, XDG_CONFIG_HOME: home },
    ice: [turn.ice],
    init: "window.dravnokIcePolicy = 'relay';",
  });
  paintMonitors(x.env, RED, GREEN);
  const input = watchRootInput(x.env);
  t.after(input.stop);
  const page = viewer.page;

  const monitors = await monitorList(page);
  assert.deepStrictEqual(monitors, {
    type: 'monitors', clip: true, clipwatch: true, active: 0, count: 2,
    list: [{ i: 0, w: 1920, h: 1080, primary: true }, { i: 1, w: 1920, h: 1080, primary: false }],
  });
  // The pair in use is relayed, and the helper has relayed candidates of
  // its own (on loopback, where the server relays).
  const candidates = await page.evaluate(async () => {
    const stats = [...(await window.dravnokViewer.pc.getStats()).values()];
    const pair = stats.find((s) => s.type === 'candidate-pair' && s.nominated && s.state === 'succeeded');
    const local = stats.find((s) => s.id === pair.localCandidateId);
    const relayed = stats.filter((s) => s.type === 'remote-candidate' && s.candidateType === 'relay');
    return { local: local.candidateType, remote: [...new Set(relayed.map((s) => s.address))] };
  });
  assert.deepStrictEqual(candidates, { local: 'relay', remote: ['127.0.0.1'] });
  await poll('monitor A in the picture', () => videoPixel(page, 60, 60), (rgb) => near(rgb, RED, 6), 30000);
  assert.deepStrictEqual(await videoSize(page), [1920, 1080]);
  // The banner sits at the bottom centre of the primary monitor, not across
  // the two.
  const banner = await poll('the banner', () => bannerGeometry(x.env));
  assert.ok(Math.abs(banner.x + banner.w / 2 - 960) <= 1 && banner.y === 1080 - 78, JSON.stringify(banner));

  // A real click on the video lands at the same spot of the X screen, and
  // typing on the focused video reaches the desktop.
  const box = await page.evaluate(() => {
    const r = document.getElementById('video').getBoundingClientRect();
    const v = document.getElementById('video');
    const scale = Math.min(r.width / v.videoWidth, r.height / v.videoHeight);
    const w = v.videoWidth * scale, h = v.videoHeight * scale;
    return { left: r.left + (r.width - w) / 2, top: r.top + (r.height - h) / 2, scale };
  });
  const client = (rx, ry) => [box.left + rx * box.scale, box.top + ry * box.scale];
  await page.mouse.click(...client(400, 300));
  await page.keyboard.type('ok');
  const seen = await poll('the click and the keys', input.events, (events) => events.length >= 6, 10000);
  const spot = seen.find((e) => e.button);
  assert.ok(Math.abs(spot.x - 400) <= 2 && Math.abs(spot.y - 300) <= 2, JSON.stringify(spot));
  assert.deepStrictEqual(seen, [
    { e: 'ButtonPress', button: 1, x: spot.x, y: spot.y }, { e: 'ButtonRelease', button: 1, x: spot.x, y: spot.y },
    { e: 'KeyPress', key: 'o' }, { e: 'KeyRelease', key: 'o' }, { e: 'KeyPress', key: 'k' }, { e: 'KeyRelease', key: 'k' },
  ]);
  if (process.env.DRAVNOK_VIEWER_SCREENSHOT) await page.screenshot({ path: process.env.DRAVNOK_VIEWER_SCREENSHOT });

  // Clipboard: text and a 300 KB image both ways, clipget, the watcher pushing X changes.
  await page.evaluate(PAGE_PNG_HELPERS);
  const lastText = () => page.evaluate(() => window.dravnokViewer.clipboard.lastText);

  // Viewer to desktop, with characters outside the Basic Multilingual Plane.
  const sent = 'from the viewer \u{1F600} \u{1D11E} \u00e9';
  await page.evaluate((text) => window.dravnokViewer.clipboard.sendText(text), sent);
  await poll('the text on the X clipboard', () => readXClipboard(x.env, 'UTF8_STRING').toString('utf8'), (v) => v === sent);

  // clipget reads back what our own selection owner serves.
  await page.evaluate(() => window.dravnokViewer.clipboard.request());
  await poll('the clipget answer', lastText, (value) => value === sent);

  // The watcher: what is there at switch-on and our own writes stay put.
  await page.evaluate(() => { window.dravnokViewer.inputReceived.length = 0; });
  await page.evaluate(() => window.dravnokViewer.clipboard.watch(true));
  await poll('the watcher', () => agent.logged(/clipboard watcher started/));

  const outgoing = await page.evaluate(async () => {
    const png = await window.randomPng(320, 320);
    window.dravnokViewer.clipboard.sendImage(png);
    return { size: png.length, digest: await window.pngPixelDigest(png) };
  });
  assert.ok(outgoing.size > 280000, `the test image has ${outgoing.size} bytes`);
  const onX = await poll('the image on the X clipboard', () => readXClipboard(x.env, 'image/png'));
  assert.strictEqual(await page.evaluate((b64) => window.pngPixelDigest(window.fromBase64(b64)), onX.toString('base64')),
    outgoing.digest);

  // Another client's text is pushed; ours never was (the watcher handles
  // changes in order, so a push of ours would have come first).
  const xText = 'from X \u{1F680} \u00fc';
  writeXClipboard(x.env, 'UTF8_STRING', Buffer.from(xText, 'utf8'));
  await poll('the pushed text', lastText, (value) => value === xText);
  assert.deepStrictEqual(await page.evaluate(() =>
    window.dravnokViewer.inputReceived.map((m) => m.type).filter((type) => type.startsWith('clip'))), ['clipdata']);
  assert.strictEqual(await page.evaluate(() => window.dravnokViewer.clipboard.lastImage), null);

  // Another client's image is pushed too.
  const incoming = await page.evaluate(async () => {
    const png = await window.randomPng(320, 320);
    let binary = '';
    for (let i = 0; i < png.length; i += 0x8000) binary += String.fromCharCode(...png.subarray(i, i + 0x8000));
    return { b64: btoa(binary), digest: await window.pngPixelDigest(png) };
  });
  writeXClipboard(x.env, 'image/png', Buffer.from(incoming.b64, 'base64'));
  const received = await poll('the pushed image', () => page.evaluate(() => {
    const image = window.dravnokViewer.clipboard.lastImage;
    return image ? window.pngPixelDigest(image) : null;
  }));
  assert.strictEqual(received, incoming.digest);

  // Files: 64 MiB down and up, byte-exact.
  const listing = await filesListing(page, (files) => files.path === home);
  assert.deepStrictEqual(listing.names.sort(), ['Downloads', 'big.bin']);

  await page.evaluate((file) => window.dravnokViewer.files.get(file), path.join(home, 'big.bin'));
  const digest = await poll('the download', () => downloadDigest(page), Boolean, 60000);
  assert.strictEqual(digest, crypto.createHash('sha256').update(data).digest('hex'));

  // The upload is made in the page, so that only its digest crosses over.
  await page.evaluate(async () => {
    const files = window.dravnokViewer.files;
    files.list(files.downloads);
    while (files.path !== files.downloads) await new Promise((r) => setTimeout(r, 50));
  });
  const uploaded = await uploadRandom(page, 'up.bin', 64 * 1024 * 1024 + 123);
  assert.strictEqual(uploaded.reply.t, 'put-ok');
  assert.strictEqual(uploaded.reply.received, 64 * 1024 * 1024 + 123);
  const written = fs.readFileSync(path.join(home, 'Downloads', 'up.bin'));
  assert.strictEqual(crypto.createHash('sha256').update(written).digest('hex'), uploaded.digest);

  // The picker shows monitor B: its picture, and input lands on it.
  // The list that answers the switch is sent before the capture has moved,
  // so the picker has to keep the choice itself.
  const lists = () => page.evaluate(() => window.dravnokViewer.inputReceived.filter((m) => m.type === 'monitors').length);
  const listsBefore = await lists();
  await page.selectOption('#monitor', '1');
  await poll('the list answering the switch', lists, (n) => n > listsBefore);
  assert.strictEqual(await page.inputValue('#monitor'), '1');
  await poll('monitor B in the picture', () => videoPixel(page, 60, 60), (rgb) => near(rgb, GREEN, 6));
  await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.5, y: 0.5 }));
  await pointerReaches(x.env, 2880, 540); // the middle of B
  await page.mouse.move(...client(100, 100));
  await pointerReaches(x.env, 2020, 100, 2); // a real move on B

  await page.click('#disconnect');
  await poll('the helper to end', () => agent.logged(/remote-helper exited with code 0/));
  assert.strictEqual(bannerGeometry(x.env), null, 'the banner goes with the session');
  // The helper's log beside it, in the folder the agent was copied to.
  const log = fs.readFileSync(path.join(agent.folder, 'remote-helper.log'), 'utf8');
  for (const record of [/\[start\] sessionId=/, /\[sdp\] OFFER/, /\[sdp\] ANSWER/, /\[state\] peerConnection -> connected/,
    /\[info\] cc: target=\d+kbps fps=\d+ .* \| \S/, /\[info\] monitor switch requested -> 1/]) {
    assert.match(log, record);
  }
});
