// The connection as a supporter needs to know it: direct or through a
// relay, how long the session has run, how good the link is, in words; and
// a warning when the picture has stopped because of the link. A still
// screen sends no pictures either, so a stop alone is no freeze: it takes
// lost packets, a request for a new picture or a broken connection as well.
const FREEZE_MS = 3000;
const WINDOW_MS = 5000; // loss is counted over this much of the recent past

// One getStats report, reduced to what the words need.
export function sampleOf(report, time) {
  const byId = new Map();
  let selectedId = null, fallback = null, video = null;
  report.forEach((s) => {
    byId.set(s.id, s);
    if (s.type === 'transport' && s.selectedCandidatePairId) selectedId = s.selectedCandidatePairId;
    // Firefox names no selected pair: the nominated one that works is it.
    if (s.type === 'candidate-pair' && s.nominated && s.state === 'succeeded') fallback ??= s;
    if (s.type === 'inbound-rtp' && s.kind === 'video') video = s;
  });
  const pair = byId.get(selectedId) || fallback;
  const types = pair ? [pair.localCandidateId, pair.remoteCandidateId].map((id) => byId.get(id)?.candidateType) : [];
  return {
    time,
    relayed: pair ? types.includes('relay') : null,
    rtt: pair?.currentRoundTripTime,
    lost: video?.packetsLost ?? 0,
    received: video?.packetsReceived ?? 0,
    frames: video?.framesDecoded ?? 0,
    requests: (video?.pliCount ?? 0) + (video?.firCount ?? 0),
  };
}

// Turns samples, one a second, into what the status says.
export class LinkMonitor {
  constructor() {
    this.samples = [];
    this.frameAt = 0;
    this.trouble = false; // since the last new picture
  }

  add(sample, iceState) {
    const prev = this.samples.at(-1);
    this.samples.push(sample);
    while (sample.time - this.samples[0].time > WINDOW_MS) this.samples.shift();
    if (!prev || sample.frames !== prev.frames) {
      this.frameAt = sample.time;
      this.trouble = false;
    } else if (sample.lost > prev.lost || sample.requests > prev.requests) {
      this.trouble = true;
    }
    const first = this.samples[0];
    const lost = Math.max(0, sample.lost - first.lost), got = sample.received - first.received;
    const lossPct = lost + got > 0 ? (100 * lost) / (lost + got) : 0;
    const rttMs = sample.rtt === undefined ? undefined : Math.round(sample.rtt * 1000);
    const slow = (ms) => rttMs !== undefined && rttMs > ms;
    return {
      relayed: sample.relayed,
      lossPct,
      rttMs,
      fps: prev ? Math.round(((sample.frames - prev.frames) * 1000) / (sample.time - prev.time)) : 0,
      quality: lossPct < 2 && !slow(150) ? 'good' : lossPct < 8 && !slow(400) ? 'fair' : 'poor',
      frozen: sample.time - this.frameAt >= FREEZE_MS && (this.trouble || iceState === 'disconnected'),
    };
  }
}

const clock = (ms) => {
  const s = Math.floor(ms / 1000);
  const two = (n) => String(n).padStart(2, '0');
  const minutes = `${two(Math.floor(s / 60) % 60)}:${two(s % 60)}`;
  return s >= 3600 ? `${Math.floor(s / 3600)}:${minutes}` : minutes;
};

export function statusWords(report, sessionMs) {
  const way = report.relayed ? 'Relayed connection (through a relay server)' : 'Direct connection';
  const loss = report.lossPct < 0.05 ? 'no loss' : `${report.lossPct.toFixed(1)} % lost`;
  const rtt = report.rttMs === undefined ? '' : `, ${report.rttMs} ms round trip`;
  return `${way} \u00b7 ${clock(sessionMs)} \u00b7 link ${report.quality} (${loss}${rtt}) \u00b7 ${report.fps} frames/s`;
}

// The status line and the freeze warning on the page.
export class LinkStatus {
  constructor(line, warning) {
    this.line = line;
    this.warning = warning;
    this.reset();
  }

  reset() {
    this.monitor = new LinkMonitor();
    this.since = null;
    this.line.textContent = '';
    this.line.title = '';
    this.warning.hidden = true;
  }

  update(report, iceState, now = performance.now()) {
    const sample = sampleOf(report, now);
    if (sample.relayed === null) return;
    this.since ??= now;
    const result = this.monitor.add(sample, iceState);
    this.line.textContent = this.line.title = statusWords(result, now - this.since);
    this.warning.hidden = !result.frozen;
    const why = iceState === 'disconnected'
      ? 'The picture is frozen: the connection is interrupted. It goes on once the link is back.'
      : 'The picture is frozen: the connection is losing data. It goes on once the link recovers.';
    // An alert is read out when its text changes, not every second.
    if (this.warning.textContent !== why) this.warning.textContent = why;
  }
}
