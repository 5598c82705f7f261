'use strict';
// A session as a supporter has it: remote-agent serves the viewer page and
// starts the helper; the page in Chromium is the viewer. Shared by the
// session tests of both platforms.
const { spawn, execFileSync } = require('node:child_process');
const path = require('node:path');
const { until, freePort } = require('./harness');

const BUILD_DIR = process.env.DRAVNOK_BUILD_DIR || path.resolve(__dirname, '../../build/linux');
const SECRET = 'test-secret-0123456789';

// remote-agent on a free loopback port; its log lines land in `log`.
async function startAgent(env, { mode = 'control', helper, secret = SECRET } = {}) {
  const port = await freePort();
  const args = ['--listen', `127.0.0.1:${port}`, '--mode', mode, '--viewer-name', 'Ann', '--secret', secret];
  if (helper) args.push('--helper', helper);
  const agent = spawn(path.join(BUILD_DIR, 'src/agent/remote-agent'), args, {
    env,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const log = [];
  agent.stderr.on('data', (d) => log.push(...d.toString().split('\n').filter(Boolean)));
  await new Promise((resolve, reject) => {
    agent.stdout.once('data', resolve);
    agent.once('exit', (code) => reject(new Error(`remote-agent ended with ${code}: ${log.join('\n')}`)));
  });
  const exited = new Promise((resolve) => agent.on('exit', resolve));
  return {
    port,
    log,
    url: `http://127.0.0.1:${port}/#secret=${secret}`,
    logged: (pattern) => log.some((line) => pattern.test(line)),
    async stop() {
      agent.kill('SIGTERM');
      await exited;
    },
  };
}

const monitorList = (page, timeoutMs) =>
  until('the monitor list', async () => {
    const list = await page.evaluate(() => window.dravnokViewer.monitors);
    return { ok: !!list, value: list };
  }, timeoutMs);

// The colour of one pixel of the decoded picture, in video pixels.
function videoPixel(page, x, y) {
  return page.evaluate(([px, py]) => {
    const video = document.getElementById('video');
    if (!video.videoWidth) return null;
    const canvas = document.createElement('canvas');
    canvas.width = video.videoWidth;
    canvas.height = video.videoHeight;
    const context = canvas.getContext('2d');
    context.drawImage(video, 0, 0);
    return Array.from(context.getImageData(px, py, 1, 1).data.slice(0, 3));
  }, [x, y]);
}

const videoSize = (page) => page.evaluate(() => {
  const v = document.getElementById('video');
  return [v.videoWidth, v.videoHeight];
});

const near = (rgb, hex, tolerance) =>
  !!rgb && [0, 1, 2].every((i) => Math.abs(rgb[i] - parseInt(hex.slice(2 * i, 2 * i + 2), 16)) <= tolerance);

// Frames decoded and bytes received so far, with the page's time.
function videoStats(page) {
  return page.evaluate(async () => {
    let video = null;
    (await window.dravnokViewer.pc.getStats()).forEach((s) => {
      if (s.type === 'inbound-rtp' && s.kind === 'video') video = s;
    });
    return video && { time: performance.now(), frames: video.framesDecoded, bytes: video.bytesReceived };
  });
}

// The RTP time of the last video packet and the receiver's clock then.
function rtpClock(page) {
  return page.evaluate(() => {
    const receiver = window.dravnokViewer.pc.getReceivers().find((r) => r.track && r.track.kind === 'video');
    const source = receiver && receiver.getSynchronizationSources()[0];
    return source ? { time: source.timestamp, rtp: source.rtpTimestamp } : null;
  });
}

function readXClipboard(env, target) {
  return execFileSync('xclip', ['-selection', 'clipboard', '-t', target, '-o'],
    { env, stdio: ['ignore', 'pipe', 'ignore'], timeout: 5000 });
}

// xclip stays behind to serve what it placed; it ends when another client
// takes the clipboard or the X server goes away.
function writeXClipboard(env, target, bytes) {
  execFileSync('xclip', ['-selection', 'clipboard', '-t', target, '-i'],
    { env, input: bytes, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000 });
}

// SHA-256 of a completed download in the page, in hex.
function downloadDigest(page, index = 0) {
  return page.evaluate(async (i) => {
    const done = window.dravnokViewer.files.completed[i];
    if (!done) return null;
    const hash = await crypto.subtle.digest('SHA-256', await done.blob.arrayBuffer());
    return Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('');
  }, index);
}

// Uploads `size` random bytes made in the page as `name` into the folder
// the files panel shows; gives the host's reply and the bytes' digest.
function uploadRandom(page, name, size) {
  return page.evaluate(async ([fileName, length]) => {
    const bytes = new Uint8Array(length);
    for (let i = 0; i < length; i += 65536) crypto.getRandomValues(bytes.subarray(i, Math.min(length, i + 65536)));
    const reply = await window.dravnokViewer.files.put(new File([bytes], fileName));
    const hash = await crypto.subtle.digest('SHA-256', bytes);
    return { reply, digest: Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join('') };
  }, [name, size]);
}

module.exports = {
  SECRET, startAgent, monitorList, videoPixel, videoSize, near, videoStats, rtpClock, readXClipboard,
  writeXClipboard, downloadDigest, uploadRandom,
};
