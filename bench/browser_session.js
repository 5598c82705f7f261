'use strict';
// What the load and network-fault benchmarks share on top of the browser
// test driver: a helper session started as the agent starts one, and a
// runner for named cases.
const { newTestPage, startHelper, connectViewer } = require('../tests/browser/driver');

// A helper started and offered to as the agent does it, with a page of its
// own; `end` stops it and says how it ended.
async function startSession(x, browser, { env = {}, wrap = [], start = {}, connect = {} } = {}) {
  const page = await newTestPage(browser);
  const helper = startHelper({ ...x.env, ...env }, wrap);
  helper.send({ cmd: 'start', mode: 'control', ...start });
  await connectViewer(page, helper, connect);
  return {
    page,
    helper,
    async end() {
      const since = Date.now();
      helper.send({ cmd: 'stop' });
      const exit = await helper.exitWithin(15000, since);
      await page.close().catch(() => {});
      return `exit ${exit.code ?? exit.signal} after ${exit.ms} ms`;
    },
  };
}

// Runs the named cases (all when none are named) one after the other and
// prints each one's figures; answers whether every case ran through.
async function runCases(cases, names, ...args) {
  let ok = true;
  for (const name of names.length ? names : Object.keys(cases)) {
    const started = Date.now();
    try {
      const result = await cases[name](...args);
      console.log(`== ${name} (${((Date.now() - started) / 1000).toFixed(0)} s)`);
      console.log(JSON.stringify(result, null, 2));
    } catch (e) {
      ok = false;
      console.log(`== ${name}: FAILED ${e.stack || e}`);
    }
  }
  return ok;
}

module.exports = { startSession, runCases };
