'use strict';
// Runs inside the viewer page: reads the frame counter (two rows of 16
// blocks of 16 pixels in the picture's top-left corner, the value and its
// complement; see bench/content/frame_counter.h) from every decoded frame
// as it is presented, and keeps the wall-clock time each value first showed.
(() => {
  const BITS = 16;
  const BLOCK = 16;
  const video = document.getElementById('video');
  const canvas = document.createElement('canvas');
  canvas.width = BITS * BLOCK;
  canvas.height = 2 * BLOCK;
  const context = canvas.getContext('2d', { willReadFrequently: true });

  const probe = {
    seen: new Map(), // counter value -> display time (ms since the epoch)
    frames: 0,
    unreadable: 0,
    last: -1,
    recording: false,
  };

  function readCounter() {
    context.drawImage(video, 0, 0, canvas.width, canvas.height, 0, 0, canvas.width, canvas.height);
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    const rows = [0, 0];
    for (let row = 0; row < 2; row++) {
      for (let column = 0; column < BITS; column++) {
        let sum = 0;
        const top = row * BLOCK + BLOCK / 4;
        const left = column * BLOCK + BLOCK / 4;
        for (let y = top; y < top + BLOCK / 2; y++) {
          let i = (y * canvas.width + left) * 4;
          for (let x = 0; x < BLOCK / 2; x++, i += 4) sum += data[i] + data[i + 1] + data[i + 2];
        }
        rows[row] = (rows[row] << 1) | (sum >= 128 * 3 * (BLOCK / 2) * (BLOCK / 2) ? 1 : 0);
      }
    }
    return (rows[0] ^ rows[1]) === 0xffff ? rows[0] : null;
  }

  function onFrame(now, metadata) {
    if (video.videoWidth >= canvas.width && video.videoHeight >= canvas.height) {
      const value = readCounter();
      if (probe.recording) {
        probe.frames++;
        if (value === null) probe.unreadable++;
      }
      if (value !== null && value !== probe.last) {
        probe.last = value;
        const shown = performance.timeOrigin + (metadata.expectedDisplayTime || now);
        // When the last packet of the frame arrived, to tell network from
        // decoding and rendering.
        const received = metadata.receiveTime ? performance.timeOrigin + metadata.receiveTime : NaN;
        if (probe.recording && !probe.seen.has(value)) probe.seen.set(value, [shown, received]);
      }
    }
    video.requestVideoFrameCallback(onFrame);
  }
  video.requestVideoFrameCallback(onFrame);

  // The inbound video figures of getStats that the table needs.
  async function inbound() {
    const pc = window.dravnokViewer && window.dravnokViewer.pc;
    if (!pc) return null;
    const stats = await pc.getStats();
    for (const report of stats.values()) {
      if (report.type === 'inbound-rtp' && report.kind === 'video') {
        return {
          at: performance.timeOrigin + performance.now(),
          bytesReceived: report.bytesReceived || 0,
          framesDecoded: report.framesDecoded || 0,
          framesReceived: report.framesReceived || 0,
          keyFramesDecoded: report.keyFramesDecoded || 0,
          framesDropped: report.framesDropped || 0,
          jitterBufferDelay: report.jitterBufferDelay || 0,
          jitterBufferEmittedCount: report.jitterBufferEmittedCount || 0,
          totalDecodeTime: report.totalDecodeTime || 0,
          totalProcessingDelay: report.totalProcessingDelay || 0,
          width: report.frameWidth || 0,
          height: report.frameHeight || 0,
        };
      }
    }
    return null;
  }

  window.benchProbe = {
    start() {
      probe.seen.clear();
      probe.frames = 0;
      probe.unreadable = 0;
      probe.recording = true;
    },
    stop() {
      probe.recording = false;
      return { seen: Array.from(probe.seen.entries()), frames: probe.frames, unreadable: probe.unreadable };
    },
    lastValue: () => probe.last,
    inbound,
  };
})();
