// How the picture fills the stage: fitted into it, or one remote pixel per
// screen pixel with the stage scrolling; and, on either, a zoom that a
// pinch sets. Pointer positions are taken from where the picture is drawn
// (the transformed box), so they stay exact in every mode.
const MAX_ZOOM = 8;

const clamp = (v, lo, hi) => Math.min(hi, Math.max(lo, v));

export class Scaling {
  constructor(stage, video) {
    this.stage = stage;
    this.video = video;
    this.mode = 'fit';
    this.zoom = { z: 1, x: 0, y: 0 };
    // A monitor switch or a new encode size changes the picture's size.
    video.addEventListener('resize', () => this.apply());
  }

  setMode(mode) {
    this.mode = mode;
    this.zoom = { z: 1, x: 0, y: 0 };
    this.apply();
  }

  apply() {
    const { video } = this;
    const oneToOne = this.mode === '1:1' && video.videoWidth > 0;
    const ratio = window.devicePixelRatio || 1;
    this.stage.classList.toggle('one-to-one', oneToOne);
    video.style.width = oneToOne ? `${video.videoWidth / ratio}px` : '';
    video.style.height = oneToOne ? `${video.videoHeight / ratio}px` : '';
    const { z, x, y } = this.zoom;
    video.style.transform = z === 1 ? '' : `translate(${x}px, ${y}px) scale(${z})`;
  }

  // What a pinch starts from: the zoom and the drawn box then.
  pinchStart() {
    return { ...this.zoom, rect: this.video.getBoundingClientRect() };
  }

  // The picture's point under the fingers' first centre stays under their
  // centre now; the zoom follows their spread, and the picture always
  // covers its box. `from` and `to` are {x, y, d}: centre and distance.
  pinch(start, from, to) {
    const { rect } = start;
    const z = clamp((start.z * to.d) / Math.max(1, from.d), 1, MAX_ZOOM);
    // Along one axis: the picture's point under the first centre, in
    // untransformed pixels, and the shift that brings it under the centre now.
    const shift = (edge, offset, size, first, now) => {
      const local = (first - edge) / start.z;
      return clamp(now - (edge - offset) - z * local, (size / start.z) * (1 - z), 0);
    };
    this.zoom = z === 1 ? { z: 1, x: 0, y: 0 } : {
      z,
      x: shift(rect.left, start.x, rect.width, from.x, to.x),
      y: shift(rect.top, start.y, rect.height, from.y, to.y),
    };
    this.apply();
  }
}
