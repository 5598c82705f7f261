'use strict';
// The page's side of the tests that drive remote-helper without the agent:
// an RTCPeerConnection that offers the data channels and receives video,
// with what arrives on each channel.
window.rtcTest = {
  pc: null,
  channels: {},
  received: {},
  async start({ iceServers, iceTransportPolicy, labels, video }) {
    const pc = (this.pc = new RTCPeerConnection({ iceServers, iceTransportPolicy }));
    pc.onicecandidate = (e) => {
      if (e.candidate && e.candidate.candidate) window.toHost({ candidate: e.candidate.candidate, sdpMid: e.candidate.sdpMid });
    };
    for (const label of labels) {
      const dc = (this.channels[label] = pc.createDataChannel(label));
      dc.binaryType = 'arraybuffer';
      this.received[label] = [];
      dc.onmessage = (e) => this.received[label].push(e.data);
    }
    if (!video) return this.reoffer();
    pc.addTransceiver('video', { direction: 'recvonly' });
    // Shown, so that the video is decoded.
    pc.ontrack = (e) => {
      const element = document.body.appendChild(document.createElement('video'));
      Object.assign(element, { autoplay: true, muted: true, srcObject: new MediaStream([e.track]) });
    };
    return this.reoffer();
  },
  // An offer on the connection; a later one renegotiates.
  async reoffer() {
    await this.pc.setLocalDescription(await this.pc.createOffer());
    return this.pc.localDescription.sdp;
  },
  setAnswer(sdp) {
    return this.pc.setRemoteDescription({ type: 'answer', sdp });
  },
  addCandidate(candidate) {
    return this.pc.addIceCandidate(candidate);
  },
};
