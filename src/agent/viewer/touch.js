// Touch on the picture: a tap clicks, a long press right-clicks, a drag
// drags; two fingers scroll, or, when they spread or close, zoom the
// picture and pan it as they move.
import { fractionOf } from './input.js';

const TAP_SLOP = 10; // CSS pixels a tap or a long press may wander
const TAP_MS = 350;
const LONG_PRESS_MS = 500;
const PINCH_SLOP = 16; // change of the fingers' distance that makes a pinch
const WHEEL_PER_PIXEL = 2; // the host counts 100 a notch

export function attachTouch(video, send, scaling) {
  const points = new Map();
  let one = null; // a single finger: where and when it came down
  let two = null; // two fingers: what they do, where they began and were last
  let spent = false; // after two fingers, the last one lifts without effect

  const centre = () => {
    const [a, b] = [...points.values()];
    return { x: (a.x + b.x) / 2, y: (a.y + b.y) / 2, d: Math.hypot(a.x - b.x, a.y - b.y) };
  };
  const rightClick = (at) => {
    send({ type: 'down', ...at, button: 2 });
    send({ type: 'up', ...at, button: 2 });
  };

  // Taps must not move the focus (that would hide a raised soft keyboard).
  video.addEventListener('touchstart', (e) => e.preventDefault(), { passive: false });
  video.addEventListener('pointerdown', (e) => {
    if (e.pointerType !== 'touch') return;
    points.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (points.size === 1 && !spent) {
      const finger = (one = { x: e.clientX, y: e.clientY, t: performance.now() });
      finger.timer = setTimeout(() => {
        finger.pressed = true;
        rightClick(fractionOf(video, finger.x, finger.y));
        navigator.vibrate?.(30);
      }, LONG_PRESS_MS);
    } else if (points.size === 2) {
      clearTimeout(one?.timer);
      one = null;
      spent = true;
      const c = centre();
      two = { kind: null, from: c, last: c, start: scaling.pinchStart() };
    }
  });
  video.addEventListener('pointermove', (e) => {
    if (e.pointerType !== 'touch' || !points.has(e.pointerId)) return;
    points.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (one && Math.hypot(e.clientX - one.x, e.clientY - one.y) >= TAP_SLOP) clearTimeout(one.timer);
    if (!two || points.size !== 2) return;
    const c = centre();
    if (!two.kind && Math.abs(c.d - two.from.d) >= PINCH_SLOP) two.kind = 'pinch';
    else if (!two.kind && Math.hypot(c.x - two.from.x, c.y - two.from.y) >= TAP_SLOP) two.kind = 'scroll';
    if (two.kind === 'pinch') scaling.pinch(two.start, two.from, c);
    if (two.kind === 'scroll') {
      send({ type: 'scroll', ...fractionOf(video, c.x, c.y), dx: (two.last.x - c.x) * WHEEL_PER_PIXEL,
        dy: (two.last.y - c.y) * WHEEL_PER_PIXEL });
    }
    two.last = c;
  });
  const lift = (e) => {
    if (e.pointerType !== 'touch' || !points.delete(e.pointerId)) return;
    const finger = one;
    one = null;
    if (points.size < 2) two = null;
    if (points.size === 0) spent = false;
    if (!finger || e.type === 'pointercancel') return clearTimeout(finger?.timer);
    clearTimeout(finger.timer);
    if (finger.pressed) return;
    const from = fractionOf(video, finger.x, finger.y);
    const ms = Math.round(performance.now() - finger.t);
    if (Math.hypot(e.clientX - finger.x, e.clientY - finger.y) < TAP_SLOP && ms < TAP_MS) {
      send({ type: 'tap', ...from });
    } else {
      const to = fractionOf(video, e.clientX, e.clientY);
      send({ type: 'swipe', x: from.x, y: from.y, x2: to.x, y2: to.y, ms: Math.max(50, Math.min(ms, 2000)) });
    }
  };
  video.addEventListener('pointerup', lift);
  video.addEventListener('pointercancel', lift);
}
