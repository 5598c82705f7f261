'use strict';
// A whole session as a supporter has it: remote-agent serves the viewer
// page, starts remote-helper on a private X desktop, and the page in
// Chromium connects, receives the monitor list and controls the pointer.
const test = require('node:test');
const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {
  BUILD_DIR, launchBrowser, sleep, poll, startJsonChild, startXvfb, pointer, pointerReaches, windowGeometries, SECRET,
  startAgent, monitorList, videoPixel, videoSize, near, videoStats, readXClipboard, writeXClipboard, downloadDigest,
  uploadRandom, filesListing,
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

// Our test desktop (tests/browser/desktop): panels, a changing picture and a
// window that reports the input it receives.
async function startDesktop(env, args) {
  const child = startJsonChild([path.join(BUILD_DIR, 'tests/browser/x_test_desktop'), ...args], env, 'desktop');
  await child.waitFor((e) => e.ready, 10000, 'the test desktop');
  return { events: child.log.events, stop: () => child.stop() };
}

// Position and size of the banner window, or null while there is none.
const bannerGeometry = (env) => windowGeometries(env, '--class', 'DravnokRemoteSessionBanner')[0] || null;

// A private desktop (one 1280x720 monitor, or two of 1920x1080 side by side),
// optionally our test windows on it, an agent and a viewer page; torn down
// with the test.
async function startSession(t, { mode = 'control', secret = SECRET, env = {}, twoMonitors = false, desktop } = {}) {
  const x = twoMonitors ? await startTwoMonitorDisplay() : await startXvfb('1280x720x24');
  const windows = desktop ? await startDesktop(x.env, desktop) : null;
  const agent = await startAgent({ ...x.env, ...env }, { mode });
  const viewer = await launchBrowser(`http://127.0.0.1:${agent.port}/#secret=${secret}`);
  t.after(async () => {
    await viewer.close();
    await agent.stop();
    if (windows) await windows.stop();
    await x.stop();
  });
  return { x, agent, viewer, windows };
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

test('a wrong secret starts nothing; a view-only session refuses files and injects nothing', async (t) => {
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
});

test('a session on two monitors: the picture, input, clipboard, files, a monitor switch, the log and the figures', async (t) => {
  const RED = 'c83232', GREEN = '32c850';
  const logFile = path.join(BUILD_DIR, 'src/host/remote-helper.log');
  const logFrom = fs.existsSync(logFile) ? fs.statSync(logFile).size : 0;
  // A home folder of its own for the files panel.
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-home-'));
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  for (const folder of ['Documents', 'Downloads', 'Pictures']) fs.mkdirSync(path.join(home, folder));
  fs.writeFileSync(path.join(home, 'notes.txt'), 'Printer on the second floor.\n');
  fs.writeFileSync(path.join(home, 'invoice-2026-11.pdf'), Buffer.alloc(48213, 1));
  const data = crypto.randomBytes(64 * 1024 * 1024);
  fs.writeFileSync(path.join(home, 'big.bin'), data);
  // Monitor A: red, with the input window and a changing picture; B: green.
  const { x, agent, viewer, windows } = await startSession(t, {
    twoMonitors: true,
    env: { HOME: home, XDG_CONFIG_HOME: home },
    desktop: ['--panel', `0,0,1920,1080,${RED}`, '--panel', `1920,0,1920,1080,${GREEN}`,
      '--events', '200,150,800,500', '--animate', '1100,150,600,400'],
  });
  const page = viewer.page;
  const eventAfter = (what, from, match) => poll(what, () => windows.events.slice(from).find(match), Boolean, 10000);
  const at = (e, rx, ry) => Math.abs(e.rx - rx) <= 2 && Math.abs(e.ry - ry) <= 2;

  const monitors = await monitorList(page);
  assert.deepStrictEqual(monitors, {
    type: 'monitors', clip: true, clipwatch: true, active: 0, count: 2,
    list: [{ i: 0, w: 1920, h: 1080, primary: true }, { i: 1, w: 1920, h: 1080, primary: false }],
  });
  await poll('monitor A in the picture', () => videoPixel(page, 60, 60), (rgb) => near(rgb, RED, 6), 30000);
  assert.deepStrictEqual(await videoSize(page), [1920, 1080]);
  // The banner sits at the bottom centre of the primary monitor, not across
  // the two.
  const banner = await poll('the banner', () => bannerGeometry(x.env));
  assert.ok(Math.abs(banner.x + banner.w / 2 - 960) <= 1 && banner.y === 1080 - 78, JSON.stringify(banner));

  const timings = await poll('the first picture', () => page.evaluate(() => window.dravnokViewer.timings),
    (value) => value.firstFrame !== undefined);
  console.log(`offer to first decoded frame: ${Math.round(timings.firstFrame - timings.offer)} ms`);

  // A real click on the video lands at the same spot of the X screen.
  const box = await page.evaluate(() => {
    const r = document.getElementById('video').getBoundingClientRect();
    const v = document.getElementById('video');
    const scale = Math.min(r.width / v.videoWidth, r.height / v.videoHeight);
    const w = v.videoWidth * scale, h = v.videoHeight * scale;
    return { left: r.left + (r.width - w) / 2, top: r.top + (r.height - h) / 2, scale };
  });
  const client = (rx, ry) => [box.left + rx * box.scale, box.top + ry * box.scale];
  let from = windows.events.length;
  await page.mouse.click(...client(400, 300));
  await eventAfter('the click at 400,300', from, (e) => e.e === 'down' && e.button === 1 && at(e, 400, 300));
  await eventAfter('the release at 400,300', from, (e) => e.e === 'up' && e.button === 1 && at(e, 400, 300));

  // Typing on the focused video reaches the window under the pointer.
  from = windows.events.length;
  await page.keyboard.type('ok');
  await eventAfter('typed keys', from, (e) => e.e === 'keyup' && e.keysym === 'k');
  assert.deepStrictEqual(windows.events.slice(from).filter((e) => e.e === 'keydown').map((e) => e.keysym), ['o', 'k']);

  // Frame rate and bitrate over 10 s of a changing screen.
  const first = await videoStats(page);
  await sleep(10000);
  const last = await videoStats(page);
  const seconds = (last.time - first.time) / 1000;
  console.log(`over ${seconds.toFixed(1)} s: ${((last.frames - first.frames) / seconds).toFixed(1)} fps, ` +
    `${Math.round(((last.bytes - first.bytes) * 8) / seconds / 1000)} kbit/s`);
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
  assert.ok(listing.names.includes('big.bin') && listing.names.includes('Downloads'), JSON.stringify(listing));

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
  const log = fs.readFileSync(logFile).subarray(logFrom).toString('utf8');
  for (const record of [/\[start\] sessionId=/, /\[sdp\] OFFER/, /\[sdp\] ANSWER/, /\[state\] peerConnection -> connected/,
    /\[info\] cc: target=\d+kbps fps=\d+ .* \| \S/, /\[info\] monitor switch requested -> 1/]) {
    assert.match(log, record);
  }
});
