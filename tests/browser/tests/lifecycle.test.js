'use strict';
// remote-helper through the ends of a session that the agent and the viewer
// can cause at any moment: stop or end of input in each phase of start, the
// agent gone, the tab closed, offers out of order, a second start. Every
// end must be an exit with code 0 within a few seconds.
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

// The helper's exit after `since`: code 0, on its own and within the limit.
async function assertQuickExit(helper, since, what) {
  const exit = await helper.exitWithin(SHUTDOWN_LIMIT_MS * 3, since);
  assert.deepStrictEqual([exit.code, exit.signal, exit.hung], [0, null, false], `${what}: ${helper.stderr()}`);
  assert.ok(exit.ms < SHUTDOWN_LIMIT_MS, `${what}: shutdown took ${exit.ms} ms`);
  return exit;
}

// How the agent ends a session: a stop line, its end of input, or its death
// (input and output both gone, so the helper's next event line has no reader).
function endSession(helper, how) {
  if (how === 'stop') helper.send({ cmd: 'stop' });
  else if (how === 'eof') helper.child.stdin.end();
  else if (how === 'agent killed') {
    helper.child.stdin.destroy();
    helper.child.stdout.destroy();
  }
}

// The steps that reach each phase.
const none = async () => {};
const started = async (h) => h.send(START);
const answered = async (h, page) => {
  h.send(START);
  await connectViewer(page, h);
};
const connected = async (h, page) => {
  await answered(h, page);
  await h.waitFor((e) => e.evt === 'state' && e.value === 'connected', 15000 * SLOW, 'connected');
};
const flowing = async (h, page) => {
  await answered(h, page);
  await decoding(page, 30);
};
const PHASES = [
  { phase: 'before start', how: 'stop', reach: none },
  { phase: 'before start', how: 'eof', reach: none },
  { phase: 'right behind start', how: 'stop', reach: started },
  { phase: 'right behind start', how: 'agent killed', reach: started },
  { phase: 'after the offer is answered, before the connection', how: 'stop', reach: answered },
  { phase: 'once connected', how: 'eof', reach: connected },
  { phase: 'with video flowing', how: 'stop', reach: flowing },
  { phase: 'with video flowing', how: 'agent killed', reach: flowing },
];

test('stop, end of input or the agent gone in each phase of start: exit 0 within the limit', { timeout: 180000 * SLOW }, async (t) => {
  const figures = [];
  for (const { phase, how, reach } of PHASES) {
    const page = await newTestPage(browser);
    const helper = startHelper(x.env);
    try {
      await reach(helper, page);
      const since = Date.now();
      endSession(helper, how);
      const exit = await assertQuickExit(helper, since, `${how} ${phase}`);
      figures.push(`${how} ${phase}: exit after ${exit.ms} ms`);
    } finally {
      await helper.kill();
      await page.close();
    }
  }
  for (const line of figures) t.diagnostic(line);
});

test('the tab closed mid-session: the helper reports the end and exits on the next line', { timeout: 90000 * SLOW }, async (t) => {
  const page = await newTestPage(browser);
  const helper = startHelper(x.env);
  t.after(() => helper.kill());
  await flowing(helper, page);
  const closedAt = Date.now();
  await page.close();
  // A tab that goes away says goodbye in DTLS; consent checks catch it
  // otherwise, later.
  const end = await helper.waitFor((e) => e.evt === 'state' && (e.value === 'closed' || e.value === 'failed'), 45000 * SLOW,
    'the state closed or failed');
  const noticed = Date.now() - closedAt;
  // The session has ended, but the loop only sees that after a line.
  await sleep(300);
  assert.strictEqual(helper.child.exitCode, null, 'the helper waits for the next line');
  const since = Date.now();
  helper.send({ cmd: 'ice' });
  const exit = await assertQuickExit(helper, since, 'after the tab closed');
  t.diagnostic(`state ${end.value} ${noticed} ms after the tab closed; exit ${exit.ms} ms after the next line`);
});

test('an offer before start, a second start and a renegotiation offer leave one working session', { timeout: 90000 * SLOW }, async (t) => {
  const page = await newTestPage(browser);
  const helper = startHelper(x.env);
  t.after(() => helper.kill());

  // The offer before start is refused, so the same offer sent after start
  // is the session's first.
  const offer = await connectViewer(page, helper, { offerOnly: true });
  helper.send({ cmd: 'offer', sdp: offer });
  await helper.waitFor((e) => e.evt === 'log' && e.msg === 'offer received before start', 5000, 'the refusal');
  helper.send(START);
  await helper.waitFor((e) => e.evt === 'log' && /^H\.264 encoder/.test(e.msg), 10000 * SLOW, 'the encoder');
  await connectViewer(page, helper);
  const first = await decoding(page, 30);
  assert.strictEqual(helper.log.events.filter((e) => e.evt === 'answer').length, 1);
  await poll('the monitor list on "input"', () => page.evaluate(() => window.rtcTest.receivedCount('input')), (n) => n >= 1);

  // A second start is ignored: no second capturer, encoder or thread set.
  const threads = helper.threads();
  helper.send({ ...START, sessionId: 'again', mode: 'view-only' });
  await sleep(1500);
  assert.strictEqual(helper.log.events.filter((e) => e.evt === 'log' && /^capture /.test(e.msg)).length, 1);
  assert.ok(helper.threads() <= threads, `threads ${threads} -> ${helper.threads()}`);

  // A renegotiation offer on the same connection: one more answer, the same
  // track, the channels go on.
  const reoffer = await page.evaluate(() => window.rtcTest.reoffer());
  await answerOffer(page, helper, reoffer);
  const later = await decoding(page, first.framesDecoded + 60);
  assert.strictEqual(helper.log.events.filter((e) => e.evt === 'log' && /^offer video:/.test(e.msg)).length, 1);
  const errors = helper.log.events.filter((e) => e.evt === 'log' && e.level === 'error');
  assert.deepStrictEqual(errors.map((e) => e.msg), ['offer received before start']);
  assert.strictEqual(await page.evaluate(() => window.rtcTest.connectionState()), 'connected');
  t.diagnostic(`threads ${threads} -> ${helper.threads()}; frames ${first.framesDecoded} -> ${later.framesDecoded}`);

  const since = Date.now();
  helper.send({ cmd: 'stop' });
  await assertQuickExit(helper, since, 'stop');
  await page.close();
});
