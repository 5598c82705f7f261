// Turns pointer, wheel, keyboard and touch on the video into the host's
// input messages. Positions are fractions of the picture actually shown.

// Keys the browser would otherwise keep for itself while the video has focus.
const CAPTURED_KEYS = new Set(['Tab', 'Backspace', 'Space', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight',
  'PageUp', 'PageDown', 'Home', 'End', 'Slash', 'Quote', 'F1', 'F3', 'F5', 'F6', 'F7', 'F10', 'F11', 'F12']);

// A touch that moves less than this (in CSS pixels) and ends quickly is a tap.
const TAP_SLOP = 10;
const TAP_MS = 350;

export function pictureRect(video) {
  const box = video.getBoundingClientRect();
  const vw = video.videoWidth, vh = video.videoHeight;
  if (!vw || !vh) return box;
  const scale = Math.min(box.width / vw, box.height / vh);
  const w = vw * scale, h = vh * scale;
  return { left: box.left + (box.width - w) / 2, top: box.top + (box.height - h) / 2, width: w, height: h };
}

export function fractionOf(video, clientX, clientY) {
  const r = pictureRect(video);
  const clamp = (v) => Math.min(1, Math.max(0, v));
  return { x: clamp((clientX - r.left) / r.width), y: clamp((clientY - r.top) / r.height) };
}

export function attachInput(stage, video, send) {
  let pendingMove = null;
  let moveScheduled = false;
  const touches = new Map();

  const flushMove = () => {
    moveScheduled = false;
    if (pendingMove) send({ type: 'move', ...pendingMove });
    pendingMove = null;
  };

  video.addEventListener('pointermove', (e) => {
    if (e.pointerType === 'touch') return;
    pendingMove = fractionOf(video, e.clientX, e.clientY);
    if (!moveScheduled) {
      moveScheduled = true;
      requestAnimationFrame(flushMove);
    }
  });
  video.addEventListener('pointerdown', (e) => {
    stage.focus();
    if (e.pointerType === 'touch') {
      touches.set(e.pointerId, { x: e.clientX, y: e.clientY, t: performance.now() });
      return;
    }
    e.preventDefault();
    video.setPointerCapture(e.pointerId);
    flushMove();
    send({ type: 'down', ...fractionOf(video, e.clientX, e.clientY), button: e.button });
  });
  video.addEventListener('pointerup', (e) => {
    if (e.pointerType === 'touch') {
      const start = touches.get(e.pointerId);
      touches.delete(e.pointerId);
      if (!start) return;
      const from = fractionOf(video, start.x, start.y);
      const to = fractionOf(video, e.clientX, e.clientY);
      const ms = Math.round(performance.now() - start.t);
      if (Math.hypot(e.clientX - start.x, e.clientY - start.y) < TAP_SLOP && ms < TAP_MS) {
        send({ type: 'tap', ...from });
      } else {
        send({ type: 'swipe', x: from.x, y: from.y, x2: to.x, y2: to.y, ms: Math.max(50, Math.min(ms, 2000)) });
      }
      return;
    }
    flushMove();
    send({ type: 'up', ...fractionOf(video, e.clientX, e.clientY), button: e.button });
  });
  video.addEventListener('pointercancel', (e) => touches.delete(e.pointerId));
  video.addEventListener('contextmenu', (e) => e.preventDefault());
  video.addEventListener('wheel', (e) => {
    e.preventDefault();
    // The host counts 100 per notch, as pixel-mode wheels report it.
    const unit = e.deltaMode === 1 ? 100 / 3 : e.deltaMode === 2 ? 800 : 1;
    send({ type: 'scroll', ...fractionOf(video, e.clientX, e.clientY), dx: e.deltaX * unit, dy: e.deltaY * unit });
  }, { passive: false });

  stage.addEventListener('keydown', (e) => {
    if (CAPTURED_KEYS.has(e.code) || e.ctrlKey || e.altKey || e.metaKey) e.preventDefault();
    if (e.repeat && e.code.startsWith('Shift')) return;
    send({ type: 'keydown', code: e.code });
  });
  stage.addEventListener('keyup', (e) => {
    e.preventDefault();
    send({ type: 'keyup', code: e.code });
  });
}
