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
const { execFileSync } = require('node:child_process');
const {
  launchBrowser, sleep, sha256, poll, startJsonChild, startXvfb, pointer, pointerReaches, watchRootInput, windowGeometries, SECRET,
  startAgent, monitorList, videoPixel, videoSize, near, readXClipboard, writeXClipboard, downloadDigest, uploadRandom,
  filesListing, startTurn, makeFolderOfFifty,
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

// Where the picture is drawn (object-fit: contain) and its scale.
const pictureBox = (page) => page.evaluate(() => {
  const v = document.getElementById('video');
  const r = v.getBoundingClientRect();
  const scale = Math.min(r.width / v.videoWidth, r.height / v.videoHeight);
  return { left: r.left + (r.width - v.videoWidth * scale) / 2, top: r.top + (r.height - v.videoHeight * scale) / 2, scale };
});

// The README's pictures, when DRAVNOK_VIEWER_SCREENSHOTS names a folder.
const screenshot = (page, name) => process.env.DRAVNOK_VIEWER_SCREENSHOTS &&
  page.screenshot({ path: path.join(process.env.DRAVNOK_VIEWER_SCREENSHOTS, name) });

// A transfer's line while it runs: done, total, rate and time left.
const PROGRESS = /^[\d.]+ (KiB|MiB) of 64\.0 MiB \u00b7 [\d.]+ (KiB|MiB)\/s \u00b7 \d+ s left$/;

// Page helpers: random opaque pixels as a PNG (random pixels do not
// compress, so 320 x 320 gives about 300 KB), the pixels of a PNG, digests,
// and a cancel at the right moment.
const PAGE_HELPERS = `
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
    return bitmap.width + 'x' + bitmap.height + ':' + await window.sha256(pixels);
  };
  window.fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  window.sha256 = async (bytes) =>
    Array.from(new Uint8Array(await crypto.subtle.digest('SHA-256', bytes)), (b) => b.toString(16).padStart(2, '0')).join('');
  // Cancels the transfer of \`name\` as soon as its line shows the time left;
  // gives the line then.
  window.cancelWhenRunning = (name) => new Promise((resolve) => {
    const look = () => {
      const line = [...document.querySelectorAll('#transfers li.running')]
        .find((li) => li.querySelector('.name').textContent.endsWith(' ' + name));
      const text = line && line.querySelector('.figures').textContent;
      if (!text || !text.endsWith(' s left')) return setTimeout(look, 5);
      line.querySelector('button').click();
      resolve(text);
    };
    look();
  });
`;

test('a wrong secret starts nothing; a view-only session refuses files and injects nothing; the page\'s rules', async (t) => {
  const { x, agent, viewer } = await startSession(t, { mode: 'view-only', secret: 'wrong' });
  const page = viewer.page;
  await poll('the refusal', () => page.textContent('#state'), (state) => state === 'wrong secret');
  assert.ok(!agent.logged(/remote-helper started/));
  await page.goto('about:blank');
  await page.goto(agent.url);
  await monitorList(page);
  assert.deepStrictEqual([await page.isHidden('#keys'), await page.isHidden('#side')], [true, true]);
  const before = pointer(x.env);
  await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.9, y: 0.9 }));
  await sleep(500);
  assert.deepStrictEqual(pointer(x.env), before);
  assert.ok(agent.logged(/files channel refused \(view-only session\)/), agent.log.join('\n'));

  // The transfer queue against a made-up host on a fake channel.
  const outcome = await page.evaluate(async () => {
    const { FileBrowser } = await import('./files.js');
    const channel = new EventTarget();
    Object.assign(channel, { readyState: 'open', bufferedAmount: 0, sent: [], send(m) { this.sent.push(m); } });
    const notices = [];
    const ui = { list: document.createElement('ul'), path: document.createElement('span'),
      queue: document.createElement('ul'), onError: (text) => notices.push(text) };
    const files = new FileBrowser(channel, ui);
    const host = (data) =>
      channel.dispatchEvent(new MessageEvent('message', { data: data.byteLength ? data : JSON.stringify(data) }));
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    const asked = () => channel.sent.filter((m) => typeof m === 'string').map((m) => JSON.parse(m).t).join(' ');
    // What a transfer came to, or "pending" when it has not settled.
    const settled = (transfer) => Promise.race([transfer.then((r) => `ok ${r.path ?? ''}`, (e) => `failed: ${e.message}`),
      sleep(1000).then(() => 'pending')]);
    const until = async (condition) => {
      for (let i = 0; i < 200 && !condition(); i++) await sleep(10);
    };
    const bytes = (...values) => host(new Uint8Array(values).buffer);

    // An upload and a download queued: the download waits for the upload's
    // end, and a listing's error meanwhile ends neither.
    const upload = files.put(new File(['xyz'], 'b.txt'), '/d');
    const first = files.get('/d/a.txt');
    host({ t: 'put-ready', path: '/d/b.txt' });
    await until(() => channel.sent.includes('{"t":"put-done"}'));
    const whileUploading = asked();
    host({ t: 'error', msg: 'cannot open /nowhere' });
    host({ t: 'put-ok', path: '/d/b.txt', received: 3, msg: '' });
    const uploaded = await settled(upload);
    host({ t: 'get-meta', name: 'a.txt', size: 3 });
    bytes(1, 2, 3);
    host({ t: 'get-done', name: 'a.txt' });
    await settled(first);

    // A cancelled download: what the host had already sent goes nowhere, and
    // the next "get" waits for the answer to a request made after the cancel.
    const cancelled = files.get('/d/a.txt');
    await until(() => asked().endsWith('get'));
    host({ t: 'get-meta', name: 'a.txt', size: 6 });
    bytes(9, 9, 9);
    files.cancel();
    const again = files.get('/d/a.txt');
    bytes(9, 9, 9);
    host({ t: 'get-done', name: 'a.txt' });
    await sleep(50);
    const afterCancel = asked();
    const probe = JSON.parse(channel.sent.at(-1)).path;
    host({ t: 'error', msg: `cannot open ${probe}` });
    await until(() => asked().endsWith('get'));
    host({ t: 'get-meta', name: 'a.txt', size: 2 });
    bytes(4, 5);
    host({ t: 'get-done', name: 'a.txt' });
    await settled(again);
    // Progress as the clock goes: done, total, the rate over the last
    // seconds, and the time left at that rate.
    const clock = performance.now;
    let now = 0;
    performance.now = () => now;
    const timed = files.get('/d/t.bin');
    host({ t: 'get-meta', name: 't.bin', size: 5 << 20 });
    host(new ArrayBuffer(1 << 20));
    now = 250;
    host(new ArrayBuffer(1 << 20));
    performance.now = clock;
    const progress = ui.queue.lastChild.querySelector('.figures').textContent;
    host({ t: 'get-done', name: 't.bin' });
    await settled(timed);
    const contents = await Promise.all(files.completed.filter((c) => c.name === 'a.txt').map(async (c) => `${c.name} ${[...new Uint8Array(await c.blob.arrayBuffer())]}`));

    // A file the host cannot open, and a refused upload: each fails alone.
    const missing = files.get('/d/gone.txt');
    const refused = files.put(new File(['r'], 'e.txt'), '/d');
    host({ t: 'error', msg: 'cannot open /d/gone.txt' });
    const gone = await settled(missing);
    await until(() => asked().endsWith('put'));
    host({ t: 'error', msg: 'cannot write to /d/e.txt' });
    return { whileUploading, uploaded, afterCancel, cancelled: await settled(cancelled), progress, contents, gone,
      refused: await settled(refused), notices, rows: [...ui.queue.querySelectorAll('.figures')].map((e) => e.textContent) };
  });
  assert.deepStrictEqual(outcome, {
    whileUploading: 'put put-done',
    uploaded: 'ok /d/b.txt',
    afterCancel: 'put put-done get get cancel ls',
    cancelled: 'failed: cancelled',
    progress: '2.0 MiB of 5.0 MiB \u00b7 4.0 MiB/s \u00b7 1 s left',
    contents: ['a.txt 1,2,3', 'a.txt 4,5'],
    gone: 'failed: cannot open /d/gone.txt',
    refused: 'failed: cannot write to /d/e.txt',
    notices: ['cannot open /nowhere', 'a.txt: cancelled', 'gone.txt: failed: cannot open /d/gone.txt',
      'e.txt: failed: cannot write to /d/e.txt'],
    // The lines of the last five transfers stay.
    rows: ['cancelled', '2 B saved', '2.0 MiB saved', 'failed: cannot open /d/gone.txt', 'failed: cannot write to /d/e.txt'],
  });

  // Text in pieces within the host's limit, never inside a surrogate pair,
  // with line breaks and tabs as keys; and the link in words.
  const rules = await page.evaluate(async () => {
    const { textMessages } = await import('./text-input.js');
    const { LinkMonitor, statusWords } = await import('./status.js');
    const pieces = (text) => textMessages(text).map((m) => m.key ?? m.text.length);
    // Samples a second apart: [frames, lost, received, picture requests, RTT in s].
    const link = (samples, ice = 'connected', relayed = false) => {
      const monitor = new LinkMonitor();
      const reports = samples.map(([frames, lost, received, requests, rtt], i) =>
        monitor.add({ time: i * 1000, relayed, frames, lost, received, requests, rtt }, ice));
      const last = reports.at(-1);
      return `${statusWords(last, samples.length * 1000 - 1000)}${last.frozen ? ' FROZEN' : ''}`;
    };
    const still = (n, sample) => Array(n).fill(sample);
    return {
      pieces: [pieces('a'.repeat(4095) + '\u{1F600}b'), pieces('c'.repeat(8192)), pieces('x\r\ny\tz\n\rw')],
      link: [
        link([[0, 0, 0, 0, 0.03], [30, 0, 100, 0, 0.03]]),
        link([[0, 0, 0, 0, 0.03], [30, 5, 95, 0, 0.03]], 'connected', true),
        link([[0, 0, 0, 0, 0.5], [30, 0, 100, 0, 0.5]]),
        link([[0, 0, 0, 0, 0.03], [30, 1, 100, 0, 0.03], ...still(4, [30, 1, 100, 0, 0.03])]),
        link([[0, 0, 0, 0, 0.03], [30, 0, 100, 0, 0.03], ...still(3, [30, 0, 100, 1, 0.03])]),
        link([[0, 0, 0, 0, 0.03], [30, 0, 100, 0, 0.03], ...still(2, [30, 0, 100, 1, 0.03])]),
        link([[0, 0, 0, 0, 0.03], [30, 0, 100, 0, 0.03], ...still(3, [30, 1, 100, 0, 0.03])]),
        link([[0, 0, 0, 0, 0.03], ...still(3601, [30, 0, 100, 0, undefined])], 'disconnected'),
      ],
    };
  });
  assert.deepStrictEqual(rules, {
    pieces: [[4095, 3], [4096, 4096], [1, 'Enter', 1, 'Tab', 1, 'Enter', 'Enter', 1]],
    link: [
      'Direct connection \u00b7 00:01 \u00b7 link good (no loss, 30 ms round trip) \u00b7 30 frames/s',
      'Relayed connection (through a relay server) \u00b7 00:01 \u00b7 link fair (5.0 % lost, 30 ms round trip) \u00b7 30 frames/s',
      'Direct connection \u00b7 00:01 \u00b7 link poor (no loss, 500 ms round trip) \u00b7 30 frames/s',
      'Direct connection \u00b7 00:05 \u00b7 link good (1.0 % lost, 30 ms round trip) \u00b7 0 frames/s',
      'Direct connection \u00b7 00:04 \u00b7 link good (no loss, 30 ms round trip) \u00b7 0 frames/s FROZEN',
      'Direct connection \u00b7 00:03 \u00b7 link good (no loss, 30 ms round trip) \u00b7 0 frames/s',
      'Direct connection \u00b7 00:04 \u00b7 link good (1.0 % lost, 30 ms round trip) \u00b7 0 frames/s FROZEN',
      'Direct connection \u00b7 1:00:01 \u00b7 link good (no loss) \u00b7 0 frames/s FROZEN',
    ],
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

test('two monitors through a TURN relay: the picture, keys, text, scaling, clipboard, transfers, a monitor switch, ' +
  'the log; then a phone', { timeout: 240000 }, async (t) => {
  const RED = 'c83232', GREEN = '32c850';
  // A home folder of its own for the files panel.
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-home-'));
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  fs.mkdirSync(path.join(home, 'Downloads'));
  const data = crypto.randomBytes(64 * 1024 * 1024);
  fs.writeFileSync(path.join(home, 'big.bin'), data);
  const fifty = makeFolderOfFifty(home);
  // The page takes relayed candidates only, so every message of the data
  // channels crosses the relay; the direct path is what the other sessions
  // take.
  const turn = await startTurn();
  t.after(() => turn.stop());
  const { x, agent, viewer } = await startSession(t, {
    twoMonitors: true,
    env: { HOME: home, XDG_CONFIG_HOME: home },
    ice: [turn.ice],
    // Keyboard Lock as the page uses it, recorded.
    init: `window.dravnokIcePolicy = 'relay';
      window.keyboardLocks = [];
      navigator.keyboard.lock = async () => window.keyboardLocks.push('lock');
      navigator.keyboard.unlock = () => window.keyboardLocks.push('unlock');`,
  });
  paintMonitors(x.env, RED, GREEN);
  const input = watchRootInput(x.env);
  t.after(input.stop);
  const page = viewer.page;

  assert.deepStrictEqual(await monitorList(page), {
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
  await poll('the status', () => page.textContent('#status'),
    (s) => /^Relayed connection \(through a relay server\) \u00b7 /.test(s));
  await poll('monitor A in the picture', () => videoPixel(page, 60, 60), (rgb) => near(rgb, RED, 6), 30000);
  assert.deepStrictEqual(await videoSize(page), [1920, 1080]);
  // The banner sits at the bottom centre of the primary monitor, not across
  // the two.
  const banner = await poll('the banner', () => bannerGeometry(x.env));
  assert.ok(Math.abs(banner.x + banner.w / 2 - 960) <= 1 && banner.y === 1080 - 78, JSON.stringify(banner));

  // A real click on the video lands at the same spot of the X screen, and
  // typing on the focused video reaches the desktop.
  const client = async (rx, ry) => {
    const box = await pictureBox(page);
    return [box.left + rx * box.scale, box.top + ry * box.scale];
  };
  await page.mouse.click(...(await client(400, 300)));
  await page.keyboard.type('ok');
  const seen = await poll('the click and the keys', input.events, (events) => events.length >= 6, 10000);
  const spot = seen.find((e) => e.button);
  assert.ok(Math.abs(spot.x - 400) <= 2 && Math.abs(spot.y - 300) <= 2, JSON.stringify(spot));
  assert.deepStrictEqual(seen, [
    { e: 'ButtonPress', button: 1, x: spot.x, y: spot.y }, { e: 'ButtonRelease', button: 1, x: spot.x, y: spot.y },
    { e: 'KeyPress', key: 'o' }, { e: 'KeyRelease', key: 'o' }, { e: 'KeyPress', key: 'k' }, { e: 'KeyRelease', key: 'k' },
  ]);
  await screenshot(page, 'viewer.png');

  // The key menu's combinations, and a key held when the page loses the
  // keyboard, which is let go on the remote side too.
  input.clear();
  for (const combo of ['alt-tab', 'win', 'ctrl-esc', 'escape', 'print-screen', 'alt-f4']) {
    await page.click('#keys summary');
    await page.click(`[data-combo="${combo}"]`);
  }
  await page.keyboard.down('Shift');
  await page.evaluate(() => document.getElementById('keyboard').blur());
  await page.keyboard.up('Shift');
  const keys = () => input.events().map((e) => `${e.e === 'KeyPress' ? '+' : '-'}${e.key}`).join(' ');
  await poll('the keys', keys, (k) => k === '+Alt_L +Tab -Tab -Alt_L +Super_L -Super_L +Control_L +Escape -Escape ' +
    '-Control_L +Escape -Escape +Print -Print +Alt_L +F4 -F4 -Alt_L +Shift_L -Shift_L');

  // Text typed as characters: from the "Type text" box, then an input
  // method's composition on the page's key field.
  input.clear();
  await page.click('#type-text summary');
  await page.fill('#type-text-box', 'Gr\u00fc\u00dfe \u043f\u0430\u0440\u043e\u043b\u044c ');
  await page.click('#type-text-form button');
  const cdp = await page.context().newCDPSession(page);
  // The key that starts a composition is the input method's, not the remote side's.
  await cdp.send('Input.dispatchKeyEvent', { type: 'keyDown', code: 'KeyM', key: 'Process', windowsVirtualKeyCode: 229 });
  await cdp.send('Input.imeSetComposition', { text: 'mi', selectionStart: 2, selectionEnd: 2 });
  await cdp.send('Input.insertText', { text: '\u5bc6\u7801' });
  await poll('the typed text', input.typed,
    (text) => text === 'Gr\u00fc\u00dfe \u043f\u0430\u0440\u043e\u043b\u044c \u5bc6\u7801');
  assert.strictEqual(await page.inputValue('#type-text-box'), '');

  // 1:1: the stage scrolls to the picture's far corner, and a click there lands.
  await page.selectOption('#scale', '1:1');
  const scrolled = await page.evaluate(() => {
    const stage = document.getElementById('stage');
    stage.scrollTo(1e5, 1e5);
    return [stage.scrollWidth, stage.scrollLeft + stage.clientWidth, stage.scrollHeight, stage.scrollTop + stage.clientHeight];
  });
  assert.deepStrictEqual(scrolled, [1920, 1920, 1080, 1080]);
  input.clear();
  await page.mouse.click(...(await client(1850, 1000)));
  const corner = await poll('the click at 1:1', input.events, (events) => events.length === 2);
  assert.ok(Math.abs(corner[0].x - 1850) <= 1 && Math.abs(corner[0].y - 1000) <= 1, JSON.stringify(corner));
  await page.selectOption('#scale', 'fit');

  // Full screen takes the system keys; the page's key leaves it and lets them go.
  const fullScreen = () => page.evaluate(() => `${!!document.fullscreenElement} ${window.keyboardLocks}`);
  await page.click('#fullscreen');
  await poll('full screen', fullScreen, (state) => state === 'true lock');
  await screenshot(page, 'viewer-fullscreen.png');
  await page.keyboard.press('Control+Alt+Shift+KeyF');
  await poll('full screen left', fullScreen, (state) => state === 'false lock,unlock');

  // Clipboard: text and a 300 KB image both ways, clipget, the watcher pushing X changes.
  await page.evaluate(PAGE_HELPERS);
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

  // A folder of fifty files into a folder the supporter picks: the page's
  // private file system stands in for the picker's choice.
  const listing = await filesListing(page, (files) => files.path === home);
  assert.deepStrictEqual(listing.names.sort(), ['Downloads', 'big.bin', 'fifty']);
  await page.evaluate(() => (window.showDirectoryPicker = async () => navigator.storage.getDirectory()));
  await page.click('#files-list li[data-name="fifty"] .download-folder');
  const lastLine = () => page.textContent('#transfers li:last-child .figures');
  await poll('the folder', lastLine, (text) => text === '50 files saved', 30000);
  assert.deepStrictEqual(await page.evaluate(async () => {
    const digests = {};
    const walk = async (dir, prefix) => {
      for await (const [name, entry] of dir.entries()) {
        if (entry.kind === 'directory') await walk(entry, `${prefix}${name}/`);
        else digests[prefix + name] = await window.sha256(await (await entry.getFile()).arrayBuffer());
      }
    };
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle('fifty'), 'fifty/');
    return digests;
  }), fifty);

  // A download cancelled while it shows its progress; then the whole of
  // the file, byte-exact: nothing of the cancelled one mixes in.
  await page.click('#files-list li[data-name="big.bin"] .entry');
  assert.match(await page.evaluate(() => window.cancelWhenRunning('big.bin')), PROGRESS);
  await poll('the cancel', lastLine, (text) => text === 'cancelled');
  await page.evaluate((file) => window.dravnokViewer.files.get(file), path.join(home, 'big.bin'));
  assert.strictEqual(await poll('the download', () => downloadDigest(page), Boolean, 60000), sha256(data));

  // Into Downloads: an upload cancelled while a second one waits behind it.
  // What was sent stays there as a partial file, as the page says; the
  // second arrives whole.
  await page.evaluate(async () => {
    const files = window.dravnokViewer.files;
    files.list(files.downloads);
    while (files.path !== files.downloads) await new Promise((r) => setTimeout(r, 50));
  });
  const cancelled = await page.evaluate(async () => {
    const files = window.dravnokViewer.files;
    const partial = files.put(new File([new Uint8Array(64 << 20)], 'partial.bin'));
    const after = files.put(new File(['after the cancel'], 'after.txt'));
    const waiting = document.querySelector('#transfers li:last-child .figures').textContent;
    const progress = await window.cancelWhenRunning('partial.bin');
    const outcome = await partial.catch((e) => e.message);
    const reply = await after;
    const job = files.transfers.jobs.find((j) => j.name === 'partial.bin');
    return { waiting, progress, outcome, sent: job.done, line: job.text.textContent,
      notice: document.getElementById('notice').textContent, after: reply.received };
  });
  const partial = path.join(home, 'Downloads', 'partial.bin');
  assert.match(cancelled.progress, PROGRESS);
  assert.match(cancelled.line, new RegExp('^cancelled: the [\\d.]+ MiB sent so far stay on the remote computer as a partial ' +
    `file \\(${partial}\\)$`));
  assert.deepStrictEqual({ ...cancelled, progress: '', line: '' }, { waiting: 'waiting', progress: '', outcome: 'cancelled',
    sent: fs.statSync(partial).size, line: '', notice: `partial.bin: ${cancelled.line}`, after: 16 });
  assert.ok(cancelled.sent < 64 << 20, cancelled.sent);
  assert.strictEqual(fs.readFileSync(path.join(home, 'Downloads', 'after.txt'), 'utf8'), 'after the cancel');

  // 64 MiB made in the page, so that only its digest crosses over.
  const { reply, digest } = await uploadRandom(page, 'up.bin', (64 << 20) + 123);
  assert.deepStrictEqual([reply.t, reply.received, sha256(fs.readFileSync(path.join(home, 'Downloads', 'up.bin')))],
    ['put-ok', (64 << 20) + 123, digest]);

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
  await page.mouse.move(...(await client(100, 100)));
  await pointerReaches(x.env, 2020, 100, 2); // a real move on B

  await page.click('#disconnect');
  await poll('the helper to end', () => agent.logged(/remote-helper exited with code 0/));
  assert.strictEqual(bannerGeometry(x.env), null, 'the banner goes with the session');
  // The helper's log beside it, in the folder the agent was copied to.
  const log = fs.readFileSync(path.join(agent.folder, 'remote-helper.log'), 'utf8');
  [/\[start\] sessionId=/, /\[sdp\] OFFER/, /\[sdp\] ANSWER/, /\[state\] peerConnection -> connected/,
    /\[info\] cc: target=\d+kbps fps=\d+ .* \| \S/, /\[info\] monitor switch requested -> 1/].forEach((r) => assert.match(log, r));

  // A phone as the next viewer, straight to the helper. A long press
  // right-clicks, a pinch zooms by its spread around its centre, a tap then
  // lands on its pixel, two fingers scroll, and the keyboard button types.
  const phone = await launchBrowser(`http://127.0.0.1:${agent.port}/#secret=${SECRET}`, null,
    { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true, deviceScaleFactor: 2 });
  t.after(() => phone.close());
  const mobile = phone.page;
  await poll('the phone picture', () => videoPixel(mobile, 60, 60), (rgb) => near(rgb, RED, 6), 30000);
  await poll('the phone status', () => mobile.textContent('#status'), (status) => /^Direct connection \u00b7 /.test(status));
  await screenshot(mobile, 'viewer-phone.png');
  const box = await pictureBox(mobile);
  const remote = (cx, cy) => [(cx - box.left) / box.scale, (cy - box.top) / box.scale];
  const [cx, cy] = await mobile.evaluate(() => {
    const r = document.getElementById('stage').getBoundingClientRect();
    return [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2)];
  });
  const fingers = await phone.context.newCDPSession(mobile);
  const touch = (type, ...points) =>
    fingers.send('Input.dispatchTouchEvent', { type, touchPoints: points.map(([px, py], id) => ({ x: px, y: py, id })) });
  const gesture = async (from, step, steps = 6) => {
    await touch('touchStart', ...from);
    for (let k = 1; k <= steps; k++) {
      await touch('touchMove', ...from.map(([px, py], i) => [px + step[i][0] * k, py + step[i][1] * k]));
    }
    await touch('touchEnd');
  };
  input.clear();
  await touch('touchStart', [cx - 40, cy - 30]);
  await sleep(800);
  await touch('touchEnd');
  // Two pinches of twice each: the second starts from the first's zoom.
  await gesture([[cx - 20, cy], [cx + 20, cy]], [[-5, 0], [5, 0]], 4);
  await gesture([[cx - 20, cy], [cx + 20, cy]], [[-5, 0], [5, 0]], 4);
  assert.strictEqual(await mobile.evaluate(() =>
    document.getElementById('video').getBoundingClientRect().width / document.getElementById('stage').clientWidth), 4);
  await mobile.touchscreen.tap(cx + 30, cy + 20);
  await gesture([[cx - 50, cy], [cx + 50, cy]], [[0, -15], [0, -15]]);
  await mobile.tap('#keyboard-button');
  await mobile.keyboard.insertText('ok 1');
  // The edits a soft keyboard makes without a key code.
  await mobile.evaluate(() => ['deleteContentBackward', 'insertLineBreak'].forEach((inputType) =>
    document.getElementById('keyboard').dispatchEvent(new InputEvent('beforeinput', { inputType, cancelable: true }))));
  await poll('the typed keys', input.typed, (text) => text === 'ok 1\b\r');
  const presses = input.events().filter((e) => e.e === 'ButtonPress');
  const want = [[3, ...remote(cx - 40, cy - 30)], [1, ...remote(cx + 30 / 4, cy + 20 / 4)]];
  assert.ok(want.every(([button, wx, wy], i) => presses[i].button === button && Math.abs(presses[i].x - wx) <= 2 &&
    Math.abs(presses[i].y - wy) <= 2) && presses.length > 2 && presses.slice(2).every((e) => e.button === 5),
  JSON.stringify({ presses, want }));
  await phone.close();
});
