'use strict';
// Data channel throughput from Chromium to our peer on loopback, in MB/s.
// Usage: node bench/browser_throughput.js [total MiB = 256] [message KiB = 64]
const path = require('node:path');
const { BUILD_DIR, launchBrowser, startJsonChild, connectViewer } = require('../tests/browser/driver');

(async () => {
  const totalMiB = Number(process.argv[2] || 256);
  const messageKiB = Number(process.argv[3] || 64);
  const count = Math.ceil((totalMiB * 1024) / messageKiB);
  const browser = await launchBrowser();
  const { page } = browser;
  // bench/browser_peer.cpp speaks the helper's lines.
  const peer = startJsonChild([path.join(BUILD_DIR, 'bench/browser_peer')], process.env, 'peer');
  try {
    await connectViewer(page, peer, { labels: ['files'], video: false });
    await peer.waitFor((e) => e.evt === 'open' && e.label === 'files', 20000, 'the channel');
    await page.waitForFunction(() => window.rtcTest.channels.files.readyState === 'open', null, { timeout: 20000 });
    peer.send({ cmd: 'echo', on: false });
    let received = 0;
    let bytes = 0;
    let finished = null;
    const done = new Promise((resolve) => {
      const push = peer.log.push.bind(peer.log);
      peer.log.push = (e) => {
        if (e.evt !== 'received') return push(e);
        bytes += e.size;
        if (++received === count) {
          finished = process.hrtime.bigint();
          resolve();
        }
      };
    });
    const started = process.hrtime.bigint();
    await page.evaluate(
      ({ count, size }) =>
        new Promise((resolve) => {
          const dc = window.rtcTest.channels.files;
          const data = new Uint8Array(size).fill(0x5a).buffer;
          let sent = 0;
          dc.bufferedAmountLowThreshold = 1 << 20;
          const pump = () => {
            while (sent < count && dc.bufferedAmount < 4 << 20) {
              dc.send(data);
              sent++;
            }
            if (sent === count) resolve();
          };
          dc.onbufferedamountlow = pump;
          pump();
        }),
      { count, size: messageKiB * 1024 },
    );
    await done;
    const seconds = Number(finished - started) / 1e9;
    console.log(
      `browser to peer, ${messageKiB} KiB messages: ${(bytes / seconds / 1e6).toFixed(1)} MB/s ` +
        `(${(bytes / 1048576).toFixed(0)} MiB in ${seconds.toFixed(2)} s)`,
    );
  } finally {
    await peer.stop();
    await browser.close();
  }
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
