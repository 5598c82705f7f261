// Turns the mouse (or a pen) and the wheel on the video into the host's
// input messages; touch is touch.js's, keys keys.js's. Positions are
// fractions of the picture actually shown.

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

// `focus` gives the keyboard to the page's key field.
export function attachInput(video, send, focus) {
  let pendingMove = null;
  let moveScheduled = false;

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
    if (e.pointerType === 'touch') return;
    e.preventDefault();
    focus();
    video.setPointerCapture(e.pointerId);
    flushMove();
    send({ type: 'down', ...fractionOf(video, e.clientX, e.clientY), button: e.button });
  });
  video.addEventListener('pointerup', (e) => {
    if (e.pointerType === 'touch') return;
    flushMove();
    send({ type: 'up', ...fractionOf(video, e.clientX, e.clientY), button: e.button });
  });
  video.addEventListener('contextmenu', (e) => e.preventDefault());
  video.addEventListener('wheel', (e) => {
    e.preventDefault();
    // The host counts 100 per notch, as pixel-mode wheels report it.
    const unit = e.deltaMode === 1 ? 100 / 3 : e.deltaMode === 2 ? 800 : 1;
    send({ type: 'scroll', ...fractionOf(video, e.clientX, e.clientY), dx: e.deltaX * unit, dy: e.deltaY * unit });
  }, { passive: false });
}
