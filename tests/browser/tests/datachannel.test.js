'use strict';
// Chromium offers the "input" and "files" channels, our peer answers, both
// only through a TURN relay; both directions carry text and binary of 1 B
// to 256 KiB, in order and intact. (The direct path is what every session
// test takes.)
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { launchBrowser, startPeer, connect, startTurn } = require('../driver');

const SIZES = [1, 2, 100, 1199, 1200, 4096, 16384, 65535, 65536, 131072, 262144];

async function until(page, expression, arg, timeoutMs = 20000) {
  await page.waitForFunction(expression, arg, { timeout: timeoutMs, polling: 50 });
}

// Both directions on both channels, checked on the page: the page's
// messages echoed, then our peer's own pattern.
async function exchange(page, peer) {
  for (const how of ['echo', 'pattern']) {
    peer.send({ cmd: 'echo', on: how === 'echo' });
    for (const label of ['input', 'files']) {
      for (const kind of ['binary', 'text']) {
        await page.evaluate((l) => window.rtcTest.reset(l), label);
        const message = { cmd: 'send', label, kind, sizes: SIZES };
        if (how === 'echo') await page.evaluate((m) => window.rtcTest.send(m.label, m.kind, m.sizes), message);
        else peer.send(message);
        await until(page, ({ l, n }) => window.rtcTest.receivedCount(l) >= n, { l: label, n: SIZES.length });
        const fault = await page.evaluate(({ l, h, k, s }) => window.rtcTest.check(l, h, k, s),
          { l: label, h: how, k: kind, s: how === 'echo' ? [] : SIZES });
        assert.equal(fault, '', `${how} ${label} ${kind}`);
      }
    }
  }
}

async function waitConnected(page, peer) {
  await peer.waitFor((e) => e.evt === 'state' && e.state === 'connected', 20000, 'our side connected');
  for (const label of ['input', 'files']) {
    await peer.waitFor((e) => e.evt === 'open' && e.label === label, 10000, `"${label}" open at our side`);
    await until(page, (l) => window.rtcTest.opened(l), label);
  }
}

test('through a TURN relay: messages both ways, then the browser closes a channel and the connection', async () => {
  const turn = await startTurn();
  const browser = await launchBrowser();
  // Our peer allocates on the same server too, through its address on the
  // machine: its host sockets do not reach loopback.
  const peer = startPeer(['--ice', turn.hostUrl, '--user', turn.user, '--pass', turn.password]);
  try {
    await connect(browser.page, peer, {
      iceServers: [{ urls: turn.url, username: turn.user, credential: turn.password }],
      iceTransportPolicy: 'relay',
    });
    await waitConnected(browser.page, peer);
    assert.equal(await browser.page.evaluate(() => window.rtcTest.selectedCandidateType()), 'relay');
    // Relayed addresses are on loopback only.
    await peer.waitFor(
      (e) => e.evt === 'candidate' && / 127\.0\.0\.1 \d+ typ relay /.test(e.candidate),
      10000,
      'our relayed candidate on loopback',
    );
    await exchange(browser.page, peer);

    await browser.page.evaluate(() => window.rtcTest.closeChannel('files'));
    await peer.waitFor((e) => e.evt === 'closed' && e.label === 'files', 10000, '"files" closed at our side');
    await browser.page.evaluate(() => window.rtcTest.closeConnection());
    await peer.waitFor((e) => e.evt === 'closed' && e.label === 'input', 20000, '"input" closed at our side');
    await peer.waitFor((e) => e.evt === 'state' && e.state === 'closed', 20000, 'our side closed');
  } finally {
    const result = await peer.stop();
    await browser.close();
    await turn.stop();
    assert.equal(result.code, 0);
  }
});
