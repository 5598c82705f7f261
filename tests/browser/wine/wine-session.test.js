'use strict';
// The Windows product as a Windows user gets it: the release folder's three
// programs copied alone into an empty folder, remote-agent.exe started there
// under Wine on a private X desktop, and the viewer page in Chromium on
// Linux at the address the agent prints. What Wine gives: GDI capture of the
// X screen, SendInput onto the X pointer, the Windows clipboard bridged to X
// selections, layered windows as X windows, and a user profile folder in the
// prefix.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync, spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {
  launchBrowser, sleep, sha256, poll, startXvfb, startPainter, pointerReaches, windowGeometries, startAgent, monitorList,
  videoPixel, videoSize, near, videoStats, rtpClock, readXClipboard, writeXClipboard, downloadDigest, uploadRandom,
  filesListing,
} = require('../driver');

const ROOT = path.resolve(__dirname, '../../..');
const WIN_BUILD = process.env.DRAVNOK_WIN_BUILD_DIR || path.join(ROOT, 'build/win');
const RELEASE = path.join(WIN_BUILD, 'release');
const PROGRAMS = ['remote-agent.exe', 'remote-helper.exe', 'dravnok-input-relay.exe'];
// A prefix of its own: Wine's X clipboard bridge lives in the prefix's
// desktop process, which must be on this test's display.
const PREFIX = process.env.DRAVNOK_WINE_SESSION_PREFIX || path.join(os.homedir(), '.cache/dravnok/wineprefix-session');
const WINE_ENV = { WINEPREFIX: PREFIX, WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=' };

const pgrep = (...args) => spawnSync('pgrep', args, { encoding: 'utf8' }).stdout.split('\n').filter(Boolean);
// Processes of the exe in this prefix still alive (Wine shows them by the
// exe's name; other runs on the machine may have theirs).
const helperProcesses = () => pgrep('-f', 'remote-helper\\.exe').filter((pid) => {
  try {
    return fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0').includes(`WINEPREFIX=${PREFIX}`);
  } catch {
    return false; // gone meanwhile
  }
});

test('the release folder under Wine: video, RTP clock, input, files, clipboard, banner, stop', { timeout: 600000 },
  async (t) => {
    for (const program of PROGRAMS) {
      assert.ok(fs.existsSync(path.join(RELEASE, program)), `${program} is in ${RELEASE} (scripts/build.sh win)`);
    }
    const x = await startXvfb('1280x720x24');
    const env = { ...x.env, ...WINE_ENV };
    t.after(async () => {
      spawnSync('wineserver', ['-k'], { env });
      await x.stop();
    });
    // A fresh wineserver on this display (a leftover one would bridge the
    // clipboard to another), and the prefix made on first use.
    spawnSync('wineserver', ['-k'], { env });
    execFileSync('wineboot', ['-i'], { env, stdio: 'ignore', timeout: 180000 });
    const profile = path.join(PREFIX, 'drive_c/users', os.userInfo().username);
    // The file to download is there before the page lists the folder.
    const name = `dravnok-${process.pid}`;
    const data = crypto.randomBytes(3 * 1024 * 1024 + 17);
    fs.writeFileSync(path.join(profile, `${name}.bin`), data);
    t.after(() => {
      for (const f of [`${name}.bin`, `${name}-up.bin`]) fs.rmSync(path.join(profile, f), { force: true });
    });

    // The programs alone in a folder of their own, nothing else of the build.
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-release-'));
    for (const program of PROGRAMS) fs.copyFileSync(path.join(RELEASE, program), path.join(folder, program));
    const versions = PROGRAMS.map((program) =>
      execFileSync('wine', [path.join(folder, program), '--version'], { env, encoding: 'utf8' }).trim());
    const head = execFileSync('git', ['-C', ROOT, 'rev-parse', '--short=12', 'HEAD'], { encoding: 'utf8' }).trim();
    assert.deepStrictEqual(versions.map((v) => v.replace(/ \d+\.\d+\.\d+ \(commit (\w+)( with changes)?\)$/, ' $1')),
      PROGRAMS.map((program) => `${program.replace('.exe', '')} ${head}`));
    const agent = await startAgent(env, { command: ['wine', path.join(folder, 'remote-agent.exe')] });
    execFileSync('xsetroot', ['-solid', '#c04020'], { env });
    const viewer = await launchBrowser(agent.url);
    t.after(async () => {
      await viewer.close();
      await agent.kill();
      fs.rmSync(folder, { recursive: true, force: true });
    });
    const page = viewer.page;

    await poll('connected', () => page.textContent('#state'), (state) => state === 'connected', 90000);
    assert.deepStrictEqual((await monitorList(page, 30000)).list, [{ i: 0, w: 1280, h: 720, primary: true }]);

    // The picture: the screen's size and colour, BT.709 limited range both
    // ways, so a few levels of rounding at most.
    await poll('the screen colour in the picture', () => videoPixel(page, 100, 100), (rgb) => near(rgb, 'c04020', 6),
      60000);
    assert.deepStrictEqual(await videoSize(page), [1280, 720]);
    const timings = await page.evaluate(() => window.dravnokViewer.timings);
    const firstFrameMs = Math.round(timings.firstFrame - timings.offer);

    // The banner: a window of the exe at the bottom of the screen.
    const banner = await poll('the banner window', () => bannerGeometry(env));
    assert.ok(banner.y + banner.h >= 700 && banner.w < 1280, JSON.stringify(banner));

    // A changing screen: frame rate, and the RTP clock against the receiver's.
    const painter = startPainter(env, 50);
    await sleep(2000);
    const [stats0, clock0] = [await videoStats(page), await rtpClock(page)];
    await sleep(8000);
    const [stats1, clock1] = [await videoStats(page), await rtpClock(page)];
    painter.stop();
    const fps = ((stats1.framesDecoded - stats0.framesDecoded) * 1000) / (stats1.time - stats0.time);
    const rtpRate = (((clock1.rtp - clock0.rtp) >>> 0) * 1000) / (clock1.time - clock0.time);
    assert.ok(Math.abs(rtpRate - 90000) <= 1800, `RTP clock at ${rtpRate.toFixed(0)} ticks per second`);
    assert.ok(fps >= 5, `${fps.toFixed(1)} frames per second`);

    // Input: SendInput moves the X pointer.
    await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.25, y: 0.5 }));
    await pointerReaches(env, 320, 360);

    // Files: a download and an upload, byte-exact, in the user's profile.
    const home = await filesListing(page, (files) => files.names.includes(`${name}.bin`), 30000);
    await page.evaluate((file) => window.dravnokViewer.files.get(file), `${home.path}\\${name}.bin`);
    assert.strictEqual(await poll('the download', () => downloadDigest(page), Boolean, 60000), sha256(data));
    const { reply, digest } = await uploadRandom(page, `${name}-up.bin`, (2 << 20) + 5);
    assert.deepStrictEqual([reply.t, reply.received, sha256(fs.readFileSync(path.join(profile, `${name}-up.bin`)))],
      ['put-ok', (2 << 20) + 5, digest]);

    // Clipboard text both ways, through Wine's bridge to the X clipboard; the
    // watcher pushes the desktop's change and never our own write.
    await page.evaluate(() => { window.dravnokViewer.inputReceived.length = 0; });
    await page.evaluate(() => window.dravnokViewer.clipboard.watch(true));
    await poll('the watcher', () => agent.logged(/clipboard watcher started/));
    const toDesktop = 'from the viewer \u00e9 \u{1F600}';
    await page.evaluate((text) => window.dravnokViewer.clipboard.sendText(text), toDesktop);
    await poll('the text on the X clipboard', () => readXClipboard(env, 'UTF8_STRING').toString('utf8'),
      (value) => value === toDesktop);
    const toViewer = 'from the desktop \u00fc';
    writeXClipboard(env, 'UTF8_STRING', Buffer.from(toViewer, 'utf8'));
    await poll('the desktop text in the viewer', () => page.evaluate(() => window.dravnokViewer.clipboard.lastText),
      (value) => value === toViewer);
    // Wine steps the sequence more than once for one change, so it may go out twice.
    const pushed = await page.evaluate(() => window.dravnokViewer.inputReceived
      .filter((m) => m.type.startsWith('clip')).map((m) => `${m.type} ${m.text}`));
    assert.deepStrictEqual([...new Set(pushed)], [`clipdata ${toViewer}`]);

    // Stop: the helper exits with 0, the banner goes and nothing is left.
    assert.notDeepStrictEqual(helperProcesses(), []);
    const since = Date.now();
    await page.click('#disconnect');
    await poll('the helper to end', () => agent.logged(/remote-helper exited with code 0/), Boolean, 30000);
    const stopMs = Date.now() - since;
    await poll('no helper process left', helperProcesses, (left) => left.length === 0, 10000);
    assert.strictEqual(bannerGeometry(env), null, 'the banner goes with the session');

    // The same page starts the next session; the agent killed in the middle
    // of it takes its helper along.
    await page.goto('about:blank');
    await page.goto(agent.url);
    await poll('connected again', () => page.textContent('#state'), (state) => state === 'connected', 90000);
    assert.strictEqual(helperProcesses().length, 1);
    await agent.kill();
    await poll('no helper left behind the killed agent', helperProcesses, (left) => left.length === 0, 15000);

    const sizes = PROGRAMS.map((p) => `${p} ${(fs.statSync(path.join(folder, p)).size / 1048576).toFixed(1)} MiB`);
    console.log(`wine session: offer to first frame ${firstFrameMs} ms, ${fps.toFixed(1)} fps on a changing screen, ` +
      `RTP clock ${rtpRate.toFixed(0)}/s, stop ${stopMs} ms; ${sizes.join(', ')}`);
  });

// The exe's visible window of a banner's height.
const bannerGeometry = (env) =>
  windowGeometries(env, '--classname', 'remote-helper.exe').find((g) => g.h > 10 && g.h < 200) || null;
