'use strict';
// remote-helper under load from a viewer page in Chromium: an input flood,
// a very large clipboard text, a folder of 100 000 entries and a 4 GiB
// download. Prints what happened and the helper's memory; not a test.
//   node bench/load/load.js [input|clipboard|folder|download ...]
// DRAVNOK_LOAD_DOWNLOAD_MIB sets the download's size (4096 by default).
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const browserDir = path.resolve(__dirname, '../../tests/browser');
const { launchBrowser, pointer, sleep, until, startXvfb } = require(path.join(browserDir, 'driver'));
const { runCases, startSession } = require('../browser_session');

const MiB = 1024 * 1024;

// Resident memory of the helper now and at its peak, in MiB.
function memory(pid) {
  try {
    const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
    const field = (name) => Math.round(Number(status.match(new RegExp(`${name}:\\s+(\\d+)`))[1]) / 1024);
    return { rss: field('VmRSS'), peak: field('VmHWM') };
  } catch {
    return { rss: 0, peak: 0 };
  }
}

function cpuSeconds(pid) {
  try {
    const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) / 100;
  } catch {
    return 0;
  }
}

async function session(x, browser, env) {
  const s = await startSession(x, browser, { env, start: { sessionId: 'load', viewerName: 'Load' } });
  await until('both channels', async () => ({
    ok: await s.page.evaluate(() => Object.values(window.rtcTest.channels).every((dc) => dc.readyState === 'open')), value: null,
  }), 20000);
  return { ...s, pid: s.helper.child.pid };
}

// Text messages on "files" go to a list in the page; binary ones are only
// counted, so that a big download does not fill the page's memory.
async function countFiles(page) {
  await page.evaluate(() => {
    const dc = window.rtcTest.channels.files;
    window.filesLoad = { texts: [], bytes: 0, binaries: 0 };
    dc.onmessage = (e) => {
      if (typeof e.data === 'string') window.filesLoad.texts.push(e.data);
      else {
        window.filesLoad.bytes += e.data.byteLength;
        window.filesLoad.binaries++;
      }
    };
  });
}

const CASES = {
  // 10 000 pointer moves a second for 30 s; the last one must land.
  async input(x, browser) {
    const s = await session(x, browser);
    const before = memory(s.pid);
    const cpu0 = cpuSeconds(s.pid);
    const sampler = [];
    const timer = setInterval(() => sampler.push(memory(s.pid).rss), 1000);
    const flood = await s.page.evaluate(async () => {
      const dc = window.rtcTest.channels.input;
      let sent = 0;
      let maxBuffered = 0;
      const t0 = performance.now();
      await new Promise((resolve) => {
        const tick = setInterval(() => {
          const now = performance.now() - t0;
          const due = Math.min(300000, Math.floor(now * 10)) - sent;
          for (let i = 0; i < due; i++, sent++) {
            dc.send(JSON.stringify({ type: 'move', x: (sent % 1000) / 1000, y: 0.9 }));
          }
          maxBuffered = Math.max(maxBuffered, dc.bufferedAmount);
          if (sent >= 300000) {
            clearInterval(tick);
            resolve();
          }
        }, 10);
      });
      dc.send(JSON.stringify({ type: 'move', x: 0.25, y: 0.5 }));
      return { sent: sent + 1, seconds: (performance.now() - t0) / 1000, maxBuffered };
    });
    const floodEnd = Date.now();
    await until('the last move', async () => {
      const p = pointer(x.env);
      return { ok: Math.abs(p.x - 320) <= 1 && Math.abs(p.y - 360) <= 1, value: p };
    }, 120000);
    const drainMs = Date.now() - floodEnd;
    clearInterval(timer);
    return {
      load: '10 000 "move" messages/s for 30 s on "input"',
      sent: flood.sent,
      sendSeconds: +flood.seconds.toFixed(1),
      browserMaxBufferedKiB: Math.round(flood.maxBuffered / 1024),
      lastMoveLandedAfterMs: drainMs,
      helperCpuSeconds: +(cpuSeconds(s.pid) - cpu0).toFixed(1),
      helperRssMiB: `${before.rss} -> max ${Math.max(...sampler)} -> ${memory(s.pid).rss}`,
      end: await s.end(),
    };
  },

  // 50 MB of text on the desktop clipboard, asked for by the viewer.
  async clipboard(x, browser) {
    const s = await session(x, browser);
    const text = 'abcdefghij'.repeat(5 * MiB);
    const file = path.join(os.tmpdir(), `dravnok-load-clip-${process.pid}.txt`);
    fs.writeFileSync(file, text);
    const owner = spawn('xclip', ['-selection', 'clipboard', '-i', file], { env: x.env, stdio: 'ignore' });
    await sleep(2000);
    const before = memory(s.pid);
    const started = Date.now();
    await s.page.evaluate(() => (window.rtcTest.received.input = []));
    await s.page.evaluate(() => window.rtcTest.channels.input.send(JSON.stringify({ type: 'clipget' })));
    // The helper answers or drops it; either way it must still serve input.
    await sleep(10000);
    const got = await s.page.evaluate(() => window.rtcTest.received.input.length);
    await s.page.evaluate(() => window.rtcTest.channels.input.send(JSON.stringify({ type: 'move', x: 0.5, y: 0.5 })));
    await until('a move after the big clipboard', async () => {
      const p = pointer(x.env);
      return { ok: p.x === 640 && p.y === 360, value: p };
    }, 30000);
    const warnings = s.helper.log.events.filter((e) => e.evt === 'log' && e.level !== 'info').map((e) => e.msg);
    const after = memory(s.pid);
    owner.kill();
    fs.rmSync(file, { force: true });
    return {
      load: '50 MiB clipboard text, "clipget" from the viewer',
      messagesToViewer: got,
      stillServingInputAfterMs: Date.now() - started,
      helperWarnings: warnings.join(' | '),
      helperRssMiB: `${before.rss} -> ${after.rss} (peak ${after.peak})`,
      end: await s.end(),
    };
  },

  // "ls" of a folder holding 100 000 files.
  async folder(x, browser) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dravnok-load-folder-'));
    const made = Date.now();
    for (let i = 0; i < 100000; i++) fs.closeSync(fs.openSync(path.join(dir, `file-${String(i).padStart(6, '0')}.txt`), 'w'));
    const makeMs = Date.now() - made;
    try {
      const s = await session(x, browser);
      await countFiles(s.page);
      const before = memory(s.pid);
      const started = Date.now();
      await s.page.evaluate((p) => window.rtcTest.channels.files.send(JSON.stringify({ t: 'ls', path: p })), dir);
      let reply = null;
      try {
        reply = await until('the listing', async () => {
          const texts = await s.page.evaluate(() => window.filesLoad.texts);
          const found = texts.map((t) => JSON.parse(t)).find((m) => m.t === 'ls-res' || m.t === 'error');
          return { ok: !!found, value: found && { t: found.t, entries: (found.entries || []).length, msg: found.msg, bytes: JSON.stringify(found).length } };
        }, 60000);
      } catch (e) {
        reply = { none: String(e.message).slice(0, 200) };
      }
      const warnings = s.helper.log.events.filter((e) => e.evt === 'log' && e.level !== 'info').map((e) => e.msg);
      return {
        load: '"ls" of a folder with 100 000 files',
        folderMadeInMs: makeMs,
        reply,
        replyAfterMs: Date.now() - started,
        helperWarnings: warnings.join(' | '),
        helperRssMiB: `${before.rss} -> ${memory(s.pid).rss} (peak ${memory(s.pid).peak})`,
        end: await s.end(),
      };
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  },

  // "get" of a sparse 4 GiB file, counted in the page.
  async download(x, browser) {
    const size = Number(process.env.DRAVNOK_LOAD_DOWNLOAD_MIB || 4096) * MiB;
    const file = path.join(os.tmpdir(), `dravnok-load-sparse-${process.pid}.bin`);
    fs.closeSync(fs.openSync(file, 'w'));
    fs.truncateSync(file, size);
    try {
      const s = await session(x, browser);
      await countFiles(s.page);
      const before = memory(s.pid);
      const sampler = [];
      const timer = setInterval(() => sampler.push(memory(s.pid).rss), 1000);
      const started = Date.now();
      await s.page.evaluate((p) => window.rtcTest.channels.files.send(JSON.stringify({ t: 'get', path: p })), file);
      let last = 0;
      let lastAt = Date.now();
      let reported = Date.now();
      const result = await until('the download', async () => {
        const state = await s.page.evaluate(() => ({
          bytes: window.filesLoad.bytes,
          done: window.filesLoad.texts.some((t) => JSON.parse(t).t === 'get-done'),
          error: window.filesLoad.texts.find((t) => JSON.parse(t).t === 'error'),
        }));
        if (state.bytes !== last) {
          last = state.bytes;
          lastAt = Date.now();
        }
        if (Date.now() - reported >= 30000) {
          reported = Date.now();
          const rss = memory(s.pid).rss;
          console.log(`   ${Math.round(state.bytes / MiB)} MiB after ${Math.round((reported - started) / 1000)} s, helper RSS ${rss} MiB`);
        }
        if (Date.now() - lastAt > 30000) return { ok: true, value: { ...state, stalled: true } };
        return { ok: state.done || !!state.error, value: state };
      }, 1800000);
      clearInterval(timer);
      const seconds = (Date.now() - started) / 1000;
      return {
        load: `"get" of a ${size / MiB} MiB sparse file`,
        received: result.bytes,
        complete: result.bytes === size && result.done,
        error: result.error || null,
        stalled: !!result.stalled,
        seconds: +seconds.toFixed(1),
        MiBps: +(result.bytes / MiB / seconds).toFixed(1),
        helperRssMiB: `${before.rss} -> max ${Math.max(...sampler)} -> ${memory(s.pid).rss}`,
        end: await s.end(),
      };
    } finally {
      fs.rmSync(file, { force: true });
    }
  },
};

async function main() {
  let x;
  let browser;
  let failed = false;
  try {
    x = await startXvfb();
    browser = await launchBrowser();
    failed = !(await runCases(CASES, process.argv.slice(2), x, browser));
  } finally {
    if (browser) await browser.close();
    if (x) await x.stop();
  }
  process.exit(failed ? 1 : 0);
}

main();
