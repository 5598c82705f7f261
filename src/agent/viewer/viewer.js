// The viewer: signalling with the agent, the peer connection, and the
// controls around the remote picture.
import { ClipboardSync } from './clipboard.js';
import { FileBrowser } from './files.js';
import { attachInput } from './input.js';
import { attachFullScreen, attachKeyboard, attachKeyMenu, attachMenus } from './keys.js';
import { Scaling } from './scaling.js';
import { AgentSignalling, BrokerSignalling, BUSY } from './signalling.js';
import { LinkStatus } from './status.js';
import { attachTypeText } from './text-input.js';
import { attachTouch } from './touch.js';

const $ = (id) => document.getElementById(id);

// The remote desktop comes as H.264 only; what a supporter can do about a
// browser that cannot show it.
const WHAT_WORKS = 'Chrome, Edge and Safari show it; Firefox does once its OpenH264 plug-in is installed and enabled.';
const NO_H264 = 'This browser does not decode H.264 video for WebRTC, so the remote desktop cannot be shown here ' +
  `(files and clipboard still work). ${WHAT_WORKS}`;
const NO_PICTURE = 'Connected, but no picture has come. If it stays so, this browser probably cannot decode the ' +
  `H.264 video. ${WHAT_WORKS}`;
// How long a connected session may go without a picture before the page says so.
const PICTURE_WAIT_MS = 8000;
// How long an interrupted connection may take to come back by itself.
const LOST_AFTER_MS = 5000;

class Viewer {
  constructor() {
    this.pc = null;
    this.signalling = null;
    this.credentials = null;
    this.mode = 'control';
    this.input = null;
    this.files = null;
    this.monitors = null;
    this.pendingCandidates = [];
    this.remoteSet = false;
    this.statsTimer = null;
    this.scaling = new Scaling($('stage'), $('video'));
    this.status = new LinkStatus($('status'), $('frozen'));
    this.clipboard = new ClipboardSync((m) => this.sendInput(m), { text: $('clip-text'), image: $('clip-image') });
    this.inputReceived = [];
    // Milliseconds on the page's clock: when the offer left, when the first
    // picture was shown.
    this.timings = {};
  }

  // `credentials`: {broker: the link's secret bytes} through the support
  // server, or {secret} for the agent's own page.
  async connect(credentials) {
    this.credentials = credentials;
    $('reconnect').hidden = true;
    const Signalling = credentials.broker ? BrokerSignalling : AgentSignalling;
    this.setState(credentials.broker ? 'connecting to the host' : 'connecting to the agent');
    this.signalling = new Signalling((event) => this.onHelperEvent(event));
    const reply = await this.signalling.open(credentials.broker || credentials.secret).catch((err) => ({
      ok: false, error: `cannot connect: ${err.message}`,
    }));
    if (!reply.ok) {
      this.signalling.close();
      this.signalling = null;
      this.setState(reply.error, 'failed');
      return false;
    }
    this.mode = reply.mode;
    document.body.classList.toggle('view-only', this.mode !== 'control');

    this.pc = new RTCPeerConnection({ iceServers: reply.iceServers, iceTransportPolicy: window.dravnokIcePolicy || 'all' });
    this.pc.addTransceiver('video', { direction: 'recvonly' });
    this.input = this.pc.createDataChannel('input');
    this.input.onopen = () => this.onInputOpen();
    this.input.onmessage = (e) => this.onInputMessage(e.data);
    const files = this.pc.createDataChannel('files');
    if (this.mode === 'control') {
      this.files = new FileBrowser(files, {
        list: $('files-list'), path: $('files-path'), queue: $('transfers'), onError: (msg) => this.showNotice(msg),
      });
    }
    this.pc.ontrack = (e) => {
      const video = $('video');
      video.srcObject = e.streams[0] || new MediaStream([e.track]);
      video.addEventListener('loadeddata', () => this.onPicture(), { once: true });
      video.requestVideoFrameCallback?.(() => {
        this.timings.firstFrame = performance.now();
        console.log(`first picture ${Math.round(this.timings.firstFrame - this.timings.offer)} ms after the offer`);
        this.onPicture();
      });
    };
    // Candidates leave once the offer has reached the agent: the helper drops
    // a candidate that comes before the offer, and separate requests can
    // overtake one another.
    let offerPosted;
    const afterOffer = new Promise((resolve) => (offerPosted = resolve));
    const signalling = this.signalling;
    this.pc.onicecandidate = (e) => {
      const candidate = e.candidate ? e.candidate.toJSON() : null;
      afterOffer.then(() => signalling.send({ cmd: 'ice', candidate }));
    };
    const pc = this.pc;
    this.pc.onconnectionstatechange = () => {
      const state = pc.connectionState;
      this.setState(state, state);
      if (state === 'connected') this.awaitPicture();
      this.watchConnection(state);
    };

    await this.pc.setLocalDescription(await this.pc.createOffer());
    this.canShowVideo = /^a=rtpmap:\d+ H264\/90000/im.test(this.pc.localDescription.sdp);
    if (!this.canShowVideo) {
      this.explainPicture(NO_H264);
      this.showNotice(NO_H264);
    }
    this.timings = { offer: performance.now() };
    await signalling.send({ cmd: 'offer', sdp: this.pc.localDescription.sdp });
    offerPosted();
    this.statsTimer = setInterval(() => this.updateFigures(), 1000);
    return true;
  }

  // A connection that failed, or stayed interrupted for a while (a network
  // change, a closed laptop lid), is said so, with a way to start again.
  watchConnection(state) {
    clearTimeout(this.lostTimer);
    const lost = () => {
      this.showNotice('The connection to the remote computer was lost.');
      $('reconnect').hidden = false;
    };
    if (state === 'failed') lost();
    else if (state === 'disconnected') this.lostTimer = setTimeout(lost, LOST_AFTER_MS);
  }

  async reconnect() {
    const credentials = this.credentials;
    this.teardown();
    $('connect-form').hidden = true;
    $('disconnect').hidden = false;
    if (!(await this.connect(credentials))) {
      $('connect-form').hidden = false;
      $('disconnect').hidden = true;
      $('reconnect').hidden = false;
    }
  }

  async onHelperEvent(event) {
    switch (event.evt) {
      case 'answer':
        await this.pc.setRemoteDescription({ type: 'answer', sdp: event.sdp });
        this.remoteSet = true;
        for (const c of this.pendingCandidates.splice(0)) await this.addCandidate(c);
        break;
      case 'ice':
        if (this.remoteSet) await this.addCandidate(event.candidate);
        else this.pendingCandidates.push(event.candidate);
        break;
      case 'state':
        this.setState(event.value, event.value);
        break;
      case 'log':
        console.log(`helper ${event.level}: ${event.msg}`);
        if (event.level === 'error') this.showNotice(event.msg);
        break;
      case 'exit':
        this.setState('session ended', 'failed');
        this.teardown(false);
        break;
      case 'busy':
        this.setState(BUSY, 'failed');
        this.teardown(false);
        break;
    }
  }

  async addCandidate(candidate) {
    try {
      await this.pc.addIceCandidate(candidate || null);
    } catch (err) {
      console.warn('remote candidate refused', err);
    }
  }

  sendInput(message) {
    if (this.input?.readyState === 'open') this.input.send(JSON.stringify(message));
  }

  onInputOpen() {
    if (this.mode !== 'control') return;
    for (const el of document.querySelectorAll('.control')) el.hidden = false;
    $('fullscreen').hidden = !document.fullscreenEnabled;
    // On a phone the panel would cover the picture.
    $('side').hidden = matchMedia('(max-width: 700px)').matches;
    if (!this.inputAttached) this.attachControls();
  }

  attachControls() {
    this.inputAttached = true;
    const send = (m) => this.sendInput(m);
    const keyboard = $('keyboard');
    const focusKeys = () => keyboard.focus({ preventScroll: true });
    attachInput($('video'), send, focusKeys);
    attachTouch($('video'), send, this.scaling);
    // Full screen gives the picture the room; the panel comes back after it.
    let sideHidden = false;
    const toggleFullScreen = attachFullScreen($('fullscreen'), (on) => {
      if (!on) return ($('side').hidden = sideHidden);
      sideHidden = $('side').hidden;
      $('side').hidden = true;
      this.showNotice('Full screen: to leave it, press Ctrl+Alt+Shift+F or hold Esc.');
      focusKeys();
    });
    attachKeyboard(keyboard, send, { toggleFullScreen });
    attachMenus([$('keys'), $('type-text')]);
    attachKeyMenu($('keys'), send, focusKeys);
    attachTypeText($('type-text-form'), $('type-text-box'), send, () => {
      $('type-text').open = false;
      focusKeys();
    });
    $('type-text').addEventListener('toggle', () => $('type-text').open && $('type-text-box').focus());
    $('keyboard-button').addEventListener('click', focusKeys);
  }

  onInputMessage(data) {
    if (typeof data !== 'string') return;
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    // The latest messages only: image chunks would pile up over a long session.
    this.inputReceived.push(message);
    if (this.inputReceived.length > 500) this.inputReceived.splice(0, this.inputReceived.length - 500);
    if (message.type === 'monitors') {
      this.monitors = message;
      const select = $('monitor');
      // The list that answers a switch is sent before the capture has moved
      // (it does at its next frame), so it still names the old monitor; the
      // picker keeps showing the one asked for.
      const shown = this.requestedMonitor ?? message.active;
      select.replaceChildren(...message.list.map((m) => {
        const option = new Option(`${m.i + 1}: ${m.w}\u00d7${m.h}${m.primary ? ' (main)' : ''}`, m.i);
        option.selected = m.i === shown;
        return option;
      }));
      select.parentElement.hidden = this.mode !== 'control' || message.count < 2;
    } else if (message.type === 'notice') {
      this.showNotice(message.text);
    } else {
      this.clipboard.receive(message);
    }
  }

  // Until the first picture the stage says what it is waiting for, or why
  // there is none and which browsers show it.
  explainPicture(text) {
    const placeholder = $('placeholder');
    placeholder.textContent = text;
    placeholder.hidden = !!this.pictureShown;
  }

  awaitPicture() {
    if (this.pictureShown || !this.canShowVideo || this.pictureTimer) return;
    this.explainPicture('Connected; waiting for the picture\u2026');
    this.pictureTimer = setTimeout(() => {
      if (!this.pictureShown && this.pc) this.explainPicture(NO_PICTURE);
    }, PICTURE_WAIT_MS);
  }

  onPicture() {
    this.pictureShown = true;
    clearTimeout(this.pictureTimer);
    $('placeholder').hidden = true;
  }

  selectMonitor(index) {
    this.requestedMonitor = index;
    this.sendInput({ type: 'monitor', index });
  }

  showNotice(text) {
    const notice = $('notice');
    notice.textContent = text;
    notice.hidden = false;
    clearTimeout(this.noticeTimer);
    this.noticeTimer = setTimeout(() => (notice.hidden = true), 15000);
  }

  setState(text, kind) {
    const state = $('state');
    state.textContent = text;
    state.className = `state ${kind || ''}`;
  }

  async updateFigures() {
    const pc = this.pc;
    if (pc) this.status.update(await pc.getStats(), pc.iceConnectionState);
  }

  teardown(tellAgent = true) {
    if (tellAgent) this.signalling?.send({ cmd: 'stop' });
    this.signalling?.close();
    this.signalling = null;
    clearInterval(this.statsTimer);
    clearTimeout(this.lostTimer);
    clearTimeout(this.pictureTimer);
    this.pictureTimer = null;
    this.pictureShown = false;
    this.pc?.close();
    this.pc = null;
    this.status.reset();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    $('connect-form').hidden = false;
    $('disconnect').hidden = true;
    for (const el of document.querySelectorAll('.control')) el.hidden = true;
    $('side').hidden = true;
  }
}

const viewer = new Viewer();
window.dravnokViewer = viewer; // for tests and the curious

// What the form holds: the agent's secret, or a support server's whole link.
function credentialsFrom(text) {
  const hash = text.includes('#') ? text.slice(text.indexOf('#')) : '';
  const broker = BrokerSignalling.linkSecret(hash);
  return broker ? { broker } : { secret: text };
}

$('connect-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  $('connect-form').hidden = true;
  $('disconnect').hidden = false;
  if (!(await viewer.connect(credentialsFrom($('secret').value)))) {
    $('connect-form').hidden = false;
    $('disconnect').hidden = true;
  }
});
$('disconnect').addEventListener('click', () => {
  viewer.teardown();
  viewer.setState('disconnected');
});
$('reconnect').addEventListener('click', () => viewer.reconnect());
$('monitor').addEventListener('change', (e) => viewer.selectMonitor(Number(e.target.value)));
$('notice').addEventListener('click', () => ($('notice').hidden = true));
$('toggle-side').addEventListener('click', () => ($('side').hidden = !$('side').hidden));
$('clip-send-text').addEventListener('click', () => viewer.clipboard.sendText($('clip-text').value));
$('clip-send-local').addEventListener('click', () => viewer.clipboard.sendLocalClipboard());
$('clip-get').addEventListener('click', () => viewer.clipboard.request());
$('clip-watch').addEventListener('change', (e) => viewer.clipboard.watch(e.target.checked));
$('files-drives').addEventListener('click', () => viewer.files?.list(''));
$('files-home').addEventListener('click', () => viewer.files?.list(viewer.files.home));
$('files-up').addEventListener('click', () => viewer.files?.up !== undefined && viewer.files.list(viewer.files.up));
$('scale').addEventListener('change', (e) => viewer.scaling.setMode(e.target.value));
$('files-pick-button').addEventListener('click', () => $('files-pick').click());
// Uploads queue up; how each ends shows in its line.
$('files-pick').addEventListener('change', (e) => {
  for (const file of e.target.files) viewer.files?.put(file);
  e.target.value = '';
});
const drop = $('files-drop');
drop.addEventListener('dragover', (e) => {
  e.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  for (const file of e.dataTransfer.files) viewer.files?.put(file);
});
// Not a beacon: it cannot say application/json, which the agent requires.
window.addEventListener('pagehide', () => viewer.signalling?.send({ cmd: 'stop' }));

// A link carries its secret in the fragment, which no server sees: the
// agent's "#secret=...", or the support server's "#k=...".
const fromAgentLink = new URLSearchParams(location.hash.slice(1)).get('secret');
const fromServerLink = BrokerSignalling.linkSecret(location.hash);
if (fromAgentLink || fromServerLink) {
  $('secret').value = fromAgentLink || location.href;
  history.replaceState(null, '', location.pathname); // keep the secret out of the history
  $('connect-form').requestSubmit();
}
