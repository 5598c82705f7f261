'use strict';
// The page's side of the tests: an RTCPeerConnection that offers data
// channels, records what it receives and checks it.
(() => {
  const state = { pc: null, channels: {}, received: {}, sent: {}, opened: {} };

  function patternBytes(size) {
    const data = new Uint8Array(size);
    for (let i = 0; i < size; i++) data[i] = (i * 7 + size) & 0xff;
    return data;
  }

  function patternText(size) {
    let s = '';
    for (let i = 0; i < size; i++) s += String.fromCharCode(97 + ((i + size) % 26));
    return s;
  }

  function same(a, b) {
    if (typeof a === 'string' || typeof b === 'string') return a === b;
    const x = new Uint8Array(a);
    const y = new Uint8Array(b);
    if (x.length !== y.length) return false;
    for (let i = 0; i < x.length; i++) if (x[i] !== y[i]) return false;
    return true;
  }

  window.rtcTest = {
    async start({ iceServers, iceTransportPolicy, labels, video }) {
      const pc = new RTCPeerConnection({ iceServers, iceTransportPolicy });
      state.pc = pc;
      pc.onicecandidate = (e) => {
        if (e.candidate && e.candidate.candidate) {
          window.toHost({ type: 'candidate', candidate: e.candidate.candidate, mid: e.candidate.sdpMid });
        }
      };
      for (const label of labels) {
        const dc = pc.createDataChannel(label);
        dc.binaryType = 'arraybuffer';
        state.channels[label] = dc;
        state.received[label] = [];
        state.sent[label] = [];
        dc.onopen = () => (state.opened[label] = true);
        dc.onmessage = (e) => state.received[label].push(e.data);
      }
      if (video) {
        pc.addTransceiver('video', { direction: 'recvonly' });
        pc.ontrack = (e) => {
          const element = document.createElement('video');
          element.autoplay = true;
          element.muted = true;
          element.playsInline = true;
          element.srcObject = new MediaStream([e.track]);
          document.body.appendChild(element);
        };
      }
      const offer = await pc.createOffer();
      await pc.setLocalDescription(offer);
      return pc.localDescription.sdp;
    },
    // A further offer on the same connection (renegotiation).
    async reoffer() {
      const offer = await state.pc.createOffer();
      await state.pc.setLocalDescription(offer);
      return state.pc.localDescription.sdp;
    },
    async setAnswer(sdp) {
      await state.pc.setRemoteDescription({ type: 'answer', sdp });
    },
    async addCandidate(candidate, mid) {
      await state.pc.addIceCandidate({ candidate, sdpMid: mid });
    },
    connectionState: () => (state.pc ? state.pc.connectionState : 'none'),
    opened: (label) => !!state.opened[label],
    receivedCount: (label) => state.received[label].length,
    selectedCandidateType: async () => {
      const stats = await state.pc.getStats();
      let pair = null;
      stats.forEach((s) => {
        if (s.type === 'transport' && s.selectedCandidatePairId) pair = stats.get(s.selectedCandidatePairId);
      });
      if (!pair) return null;
      const local = stats.get(pair.localCandidateId);
      return local ? local.candidateType : null;
    },
    // Sends generated messages and remembers them for the echo check.
    send(label, kind, sizes) {
      const dc = state.channels[label];
      for (const size of sizes) {
        const data = kind === 'text' ? patternText(size) : patternBytes(size).buffer;
        state.sent[label].push(data);
        dc.send(data);
      }
    },
    // Compares what came back with `expected` ("echo": what we sent, or the
    // peer's own generated messages of `sizes`). Returns a fault text or ''.
    check(label, expected, kind, sizes) {
      const got = state.received[label];
      const want =
        expected === 'echo'
          ? state.sent[label]
          : sizes.map((s) => (kind === 'text' ? patternText(s) : patternBytes(s).buffer));
      if (got.length !== want.length) return `${label}: ${got.length} messages, expected ${want.length}`;
      for (let i = 0; i < want.length; i++) {
        if (typeof got[i] !== typeof want[i]) return `${label}[${i}]: wrong kind ${typeof got[i]}`;
        if (!same(got[i], want[i])) return `${label}[${i}]: content differs (size ${want[i].length ?? want[i].byteLength})`;
      }
      return '';
    },
    reset(label) {
      state.received[label] = [];
      state.sent[label] = [];
    },
    closeChannel: (label) => state.channels[label].close(),
    closeConnection: () => state.pc.close(),
    channel: (label) => state.channels[label],
    // Video from our side: its inbound statistics.
    async videoStats() {
      const stats = await state.pc.getStats();
      let inbound = null;
      stats.forEach((s) => {
        if (s.type === 'inbound-rtp' && s.kind === 'video') inbound = s;
      });
      if (!inbound) return null;
      const pick = ['framesDecoded', 'framesReceived', 'framesDropped', 'frameWidth', 'frameHeight', 'nackCount',
        'pliCount', 'firCount', 'packetsLost', 'packetsReceived', 'keyFramesDecoded', 'bytesReceived', 'freezeCount',
        'totalFreezesDuration'];
      return Object.fromEntries(pick.map((k) => [k, inbound[k] ?? 0]));
    },
  };
})();
