'use strict';
// remote-helper through the ends of a session that the agent's stop does
// not cover: a renegotiation offer and the tab closed in a live session,
// the agent gone. Every end must be an exit with code 0 within a few
// seconds. (Stop and end of input in each phase of start are the session
// threads test's; a stop with video flowing is the session story's
// disconnect.)
const test = require('node:test');
const assert = require('node:assert');
const {
  launchBrowser, sleep, poll, startXvfb, startPainter, startHelper, connectViewer, answerOffer, videoStats, newTestPage,
} = require('../driver');

// Sanitizer builds of the helper are slower: DRAVNOK_SLOW stretches every
// limit and wait by that factor.
const SLOW = Number(process.env.DRAVNOK_SLOW) || 1;
const SHUTDOWN_LIMIT_MS = 5000 * SLOW;
const START = { cmd: 'start', sessionId: 'life', mode: 'control', viewerName: 'Ann' };

let x;
let browser;
let painter;
test.before(async () => {
  x = await startXvfb();
  painter = startPainter(x.env);
  browser = await launchBrowser();
});
test.after(async () => {
  if (painter) painter.stop();
  if (browser) await browser.close();
  if (x) await x.stop();
});

const decoding = (page, frames) =>
  poll(`${frames} decoded frames`, () => videoStats(page), (s) => !!s && s.framesDecoded >= frames, 20000 * SLOW);

// A helper started and connected to a test page, with video flowing.
async function flowingSession(t) {
  const page = await newTestPage(browser);
  const helper = startHelper(x.env);
  t.after(async () => {
    await helper.kill();
    await page.close();
  });
  helper.send(START);
  await connectViewer(page, helper);
  return { page, helper, first: await decoding(page, 30) };
}

// The helper's exit after `since`: code 0, on its own and within the limit.
async function assertQuickExit(helper, since, what) {
  const exit = await helper.exitWithin(SHUTDOWN_LIMIT_MS * 3, since);
  assert.deepStrictEqual([exit.code, exit.signal, exit.hung], [0, null, false], `${what}: ${helper.stderr()}`);
  assert.ok(exit.ms < SHUTDOWN_LIMIT_MS, `${what}: shutdown took ${exit.ms} ms`);
  return exit;
}

test('a renegotiation keeps the video; a closed tab ends the session, and the helper exits on the next line',
  { timeout: 90000 * SLOW }, async (t) => {
    const { page, helper, first } = await flowingSession(t);
    // One more answer on the same connection; the same track goes on.
    await answerOffer(page, helper, await page.evaluate(() => window.rtcTest.reoffer()));
    await decoding(page, first.framesDecoded + 60);
    const logged = (pattern) => helper.log.events.filter((e) => e.evt === 'log' && pattern.test(e.msg)).length;
    assert.deepStrictEqual([logged(/^offer video:/), helper.log.events.filter((e) => e.evt === 'answer').length], [1, 2]);
    assert.deepStrictEqual(helper.log.events.filter((e) => e.level === 'error'), []);

    const closedAt = Date.now();
    await page.close();
    // A tab that goes away says goodbye in DTLS; consent checks catch it
    // otherwise, later.
    const end = await helper.waitFor((e) => e.evt === 'state' && (e.value === 'closed' || e.value === 'failed'),
      45000 * SLOW, 'the state closed or failed');
    const noticed = Date.now() - closedAt;
    // The session has ended, but the loop only sees that after a line.
    await sleep(300);
    assert.strictEqual(helper.child.exitCode, null, 'the helper waits for the next line');
    const since = Date.now();
    helper.send({ cmd: 'ice' });
    const exit = await assertQuickExit(helper, since, 'after the tab closed');
    t.diagnostic(`state ${end.value} ${noticed} ms after the tab closed; exit ${exit.ms} ms after the next line`);
  });

test('the agent gone right behind start (input and output both closed): exit 0 within the limit', async (t) => {
  const helper = startHelper(x.env);
  t.after(() => helper.kill());
  helper.send(START);
  const since = Date.now();
  // The lines that the start brings have no reader.
  helper.child.stdin.destroy();
  helper.child.stdout.destroy();
  const exit = await assertQuickExit(helper, since, 'agent gone');
  t.diagnostic(`exit ${exit.ms} ms after the agent went`);
});
