'use strict';
// Firefox ESR as the viewer, a WebRTC stack nobody here wrote: remote-agent
// serves the page, Firefox (driven over WebDriver BiDi) connects with its
// host candidates hidden behind mDNS names (none lost when the offer's
// request is slow), says the connection is direct, moves the X pointer,
// sends keys from the key menu and typed text, opens a folder in the files
// panel, saves a folder as a zip archive (it has no folder picker), and
// tells that it has no picture: Debian's Firefox offers no H.264 for WebRTC.
const { execFileSync } = require('node:child_process');
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { poll, startXvfb, pointerReaches, startAgent, watchRootInput, makeFolderOfFifty } = require('../driver');

const FIREFOX = process.env.DRAVNOK_FIREFOX || '/usr/bin/firefox-esr';

test('Firefox: connects through mDNS host candidates, moves the pointer, keys and text, a folder as a zip, no video',
  { timeout: 120000 }, async (t) => {
    const x = await startXvfb('1280x720x24');
    const home = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-home-'));
    fs.mkdirSync(path.join(home, 'reports'));
    fs.writeFileSync(path.join(home, 'reports', 'q3.txt'), 'figures\n');
    const fifty = makeFolderOfFifty(home);
    const saved = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-saved-'));
    const input = watchRootInput(x.env);
    const agent = await startAgent({ ...x.env, HOME: home, XDG_CONFIG_HOME: home }, { alone: true });
    const browser = await puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX, headless: true });
    t.after(async () => {
      await browser.close().catch(() => {});
      await agent.stop();
      await x.stop();
      fs.rmSync(home, { recursive: true, force: true });
      fs.rmSync(saved, { recursive: true, force: true });
      input.stop();
    });
    const context = await browser.createBrowserContext({ downloadBehavior: { policy: 'allow', downloadPath: saved } });
    const page = await context.newPage();
    page.on('console', (m) => process.env.DRAVNOK_BROWSER_LOG && console.log('[firefox]', m.text()));
    await page.setViewport({ width: 1280, height: 800 });
    // The offer's request held back, as a slow network may: Firefox's
    // candidates must still reach the helper after it.
    await page.setRequestInterception(true);
    page.on('request', (r) => setTimeout(() => r.continue(), r.url().endsWith('/offer') ? 300 : 0));
    await page.goto(agent.url);

    const text = (selector) => page.$eval(selector, (e) => e.textContent);
    await poll('connected', () => text('#state'), (state) => state === 'connected', 30000);
    const ice = await page.evaluate(async () => {
      const pc = window.dravnokViewer.pc;
      const lines = pc.localDescription.sdp.split('\r\n').filter((l) => l.startsWith('a=candidate:'));
      const stats = [...(await pc.getStats()).values()];
      const pair = stats.find((s) => s.type === 'candidate-pair' && s.nominated && s.state === 'succeeded');
      return {
        offered: [...new Set(lines.map((l) => `${l.split(' ')[2].toLowerCase()} ${l.split(' ')[4]}`))],
        local: pair && stats.find((s) => s.id === pair.localCandidateId).candidateType,
      };
    });
    // Firefox hides its addresses behind names that we do not resolve; the
    // host learns the address from Firefox's checks (a peer-reflexive one).
    assert.ok(ice.offered.some((c) => c.startsWith('udp ')), JSON.stringify(ice.offered));
    assert.ok(ice.offered.every((c) => c.endsWith('.local')), JSON.stringify(ice.offered));
    assert.strictEqual(ice.local, 'host');
    assert.deepStrictEqual(agent.log.filter((line) => /addRemoteCandidate failed/.test(line)), []);
    await poll('the status', () => text('#status'), (status) => /^Direct connection \u00b7 /.test(status));

    // A pointer move as a supporter makes it, right through the message in
    // the middle of the stage. Without a picture the stage is the screen.
    await poll('the files panel', () => page.$eval('#side', (e) => !e.hidden), Boolean, 10000);
    const stage = await (await page.$('#video')).boundingBox();
    const message = await (await page.$('#placeholder')).boundingBox();
    const [mx, my] = [message.x + message.width / 3, message.y + message.height / 2];
    await page.mouse.move(mx, my);
    const want = { x: ((mx - stage.x) / stage.width) * 1280, y: ((my - stage.y) / stage.height) * 720 };
    await pointerReaches(x.env, want.x, want.y, 2);

    // Alt+Tab and the Windows key from the key menu; text from the "Type text" box.
    input.clear();
    for (const combo of ['alt-tab', 'win']) {
      await page.click('#keys summary');
      await page.click(`[data-combo="${combo}"]`);
    }
    await page.click('#type-text summary');
    await page.type('#type-text-box', 'Gr\u00fc\u00dfe \u043f\u0430\u0440\u043e\u043b\u044c \u5bc6\u7801');
    await page.click('#type-text-form button');
    await poll('the typed text', input.typed,
      (typed) => typed === 'Gr\u00fc\u00dfe \u043f\u0430\u0440\u043e\u043b\u044c \u5bc6\u7801');
    assert.deepStrictEqual(input.events().filter((e) => e.key && !e.key.startsWith('0x')).slice(0, 6).map((e) => e.key),
      ['Alt_L', 'Tab', 'Tab', 'Alt_L', 'Super_L', 'Super_L']);

    // A folder of fifty files as a zip archive, its files checked by Python's zip reader.
    await poll('the home folder listed', () => page.$('#files-list li[data-name="fifty"] .download-folder'));
    await page.click('#files-list li[data-name="fifty"] .download-folder');
    await poll('the archive', () => text('#transfers li:last-child .figures'), (line) => line === '50 files saved');
    const archive = path.join(saved, 'fifty.zip');
    const unzipped = await poll('the archive saved', () => execFileSync('python3', ['-c', `import hashlib, json, sys, zipfile
print(json.dumps({i.filename: hashlib.sha256(zipfile.ZipFile(sys.argv[1]).read(i)).hexdigest()
  for i in zipfile.ZipFile(sys.argv[1]).infolist()}))`, archive], { stdio: ['ignore', 'pipe', 'ignore'] }).toString());
    assert.deepStrictEqual(JSON.parse(unzipped), fifty);

    // A folder in the files panel, opened.
    const listed = async (folder, entry) => (await text('#files-path')) === folder && !!(await page.$(entry));
    await poll('the home folder listed', () => listed(home, '#files-list li.folder[data-name="reports"]'));
    await page.click('#files-list li.folder[data-name="reports"]');
    await poll('the folder listed', () => listed(path.join(home, 'reports'), '#files-list li[data-name="q3.txt"]'));

    // No picture, and the stage says why.
    await poll('the no-video message', () => page.$eval('#placeholder', (e) => !e.hidden && e.textContent),
      (shown) => /does not decode H\.264/.test(shown));
    assert.strictEqual(await page.$eval('#video', (v) => v.videoWidth), 0);

    console.log(`${await browser.version()}: no picture (no H.264 offered), its candidates ${ice.offered.join(', ')}`);
  });
