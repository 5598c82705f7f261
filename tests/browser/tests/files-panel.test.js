'use strict';
// The viewer page's files panel against a made-up host on a fake channel:
// an "error" ends only the transfer it belongs to, and an upload that the
// host gives up settles, so the next one can start.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { launchBrowser } = require('../driver');

const VIEWER = path.resolve(__dirname, '../../../src/agent/viewer');
const PAGE = `<div id="transfer"><span id="label"></span><progress id="progress"></progress></div>
<span id="path"></span><ul id="list"></ul>
<script type="module">
import { FileBrowser } from './files.js';
const channel = new EventTarget();
Object.assign(channel, { readyState: 'open', bufferedAmount: 0, sent: [], send(m) { this.sent.push(m); } });
const $ = (id) => document.getElementById(id);
window.channel = channel;
window.files = new FileBrowser(channel, { list: $('list'), path: $('path'), transfer: $('transfer'),
  transferLabel: $('label'), transferProgress: $('progress') });
</script>`;

test('files panel: an error ends only its own transfer, an abandoned upload settles', async (t) => {
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const { page } = browser;
  await page.route('http://viewer.test/**', (route) => {
    if (route.request().url().endsWith('/files.js')) {
      return route.fulfill({ contentType: 'text/javascript', body: fs.readFileSync(path.join(VIEWER, 'files.js')) });
    }
    return route.fulfill({ contentType: 'text/html', body: PAGE });
  });
  await page.goto('http://viewer.test/');
  await page.waitForFunction(() => window.files);

  const outcome = await page.evaluate(async () => {
    const { files, channel } = window;
    const host = (data) =>
      channel.dispatchEvent(new MessageEvent('message', { data: data.byteLength ? data : JSON.stringify(data) }));
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    // What an upload came to, or "pending" when it has not settled.
    const settled = (upload) =>
      Promise.race([upload.then((r) => `ok ${r.path}`, (e) => `failed: ${e.message}`), sleep(2000).then(() => 'pending')]);
    const until = async (condition) => {
      for (let i = 0; i < 200 && !condition(); i++) await sleep(10);
    };

    // A download and an upload run while a listing fails.
    host({ t: 'get-meta', name: 'a.txt', size: 3 });
    const upload = files.put(new File(['xyz'], 'b.txt'));
    host({ t: 'put-ready', path: '/d/b.txt' });
    await until(() => channel.sent.includes('{"t":"put-done"}'));
    host({ t: 'error', msg: 'cannot open /nowhere' });
    host(new Uint8Array([1, 2, 3]).buffer);
    host({ t: 'get-done', name: 'a.txt' });
    host({ t: 'put-ok', path: '/d/b.txt', received: 3, msg: '' });
    const both = await settled(upload);
    const downloaded = files.completed.map((c) => `${c.name} ${c.blob.size}`);

    // A download asked for before the host finished the upload: the host drops it.
    const dropped = files.put(new File(['q'], 'c.txt'));
    files.get('/x/y.bin');
    host({ t: 'put-ready', path: '/d/c.txt' });
    const abandoned = await settled(dropped);
    const refused = files.put(new File(['r'], 'e.txt'));
    host({ t: 'error', msg: 'cannot write to /d/e.txt' });
    return { both, downloaded, abandoned, next: await settled(refused) };
  });
  assert.deepEqual(outcome, {
    both: 'ok /d/b.txt',
    downloaded: ['a.txt 3'],
    abandoned: 'failed: the upload was stopped by a download',
    next: 'failed: cannot write to /d/e.txt',
  });
});
