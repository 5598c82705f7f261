// How the page reaches the host's agent. Both ways carry the same commands
// to the helper ({cmd: offer | ice | stop}) and hand back the helper's
// event lines ({evt: answer | ice | state | log | exit}):
//  - AgentSignalling: the agent's own HTTP API, with the session secret
//    (the agent listens where the supporter can reach it);
//  - BrokerSignalling: the support server's message broker, with the link's
//    secret (both sides connect out; the broker sees only sealed messages).
import {
  secretFromFragment, hostSeed, sessionKeys, seal, Opener, userSeedText, userJwt, turnCredential, SID_BYTES, TO_HOST,
  TO_VIEWER, MAX_MESSAGE_BYTES,
} from './link.js';

export class AgentSignalling {
  constructor(onEvent) {
    this.onEvent = onEvent;
    this.session = null;
    this.events = null;
  }

  // {ok, iceServers, mode} or {ok: false, error}.
  async open(secret) {
    const response = await fetch('/api/session', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ secret }),
    });
    const reply = await response.json();
    if (!response.ok) return { ok: false, error: reply.error || `refused (${response.status})` };
    this.session = reply.session;
    this.events = new EventSource(`/api/session/${this.session}/events`);
    this.events.onmessage = (e) => this.onEvent(JSON.parse(e.data));
    return { ok: true, iceServers: reply.iceServers, mode: reply.mode };
  }

  send(command) {
    if (!this.session) return Promise.resolve();
    const { cmd, ...body } = command;
    return fetch(`/api/session/${this.session}/${cmd}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
      keepalive: cmd === 'stop', // it must go out even as the page closes
    }).catch(() => {});
  }

  close() {
    this.events?.close();
    this.events = null;
    this.session = null;
  }
}

export const BUSY = 'The host is busy with another supporter.';
// How long the host has to answer a hello before the page gives up.
const WELCOME_WAIT_MS = 10000;
// The TURN credentials the page mints last this long (an allocation cannot
// be refreshed once its credential expired).
const DEFAULT_TURN_TTL = 12 * 3600;

export class BrokerSignalling {
  constructor(onEvent) {
    this.onEvent = onEvent;
    this.connection = null;
  }

  static linkSecret(hash) {
    return secretFromFragment(hash);
  }

  async open(secret) {
    let config;
    try {
      const response = await fetch('/supporter/dravnok-supporter.json', { cache: 'no-store' });
      if (!response.ok) return { ok: false, error: `the support server refused its settings (${response.status})` };
      config = await response.json();
    } catch {
      return { ok: false, error: 'the support server cannot be reached' };
    }
    const nats = await import('./vendor/nats.js');
    const { nkeys } = nats;
    const host = nkeys.fromSeed(new TextEncoder().encode(userSeedText(await hostSeed(secret))));
    this.hostSubject = `dv1.${host.getPublicKey()}`;
    // One identity per tab: a reconnect from this tab is the same supporter.
    let viewerSeed = sessionStorage.getItem('dravnokViewerSeed');
    if (!viewerSeed) {
      viewerSeed = userSeedText(crypto.getRandomValues(new Uint8Array(32)));
      sessionStorage.setItem('dravnokViewerSeed', viewerSeed);
    }
    const viewer = nkeys.fromSeed(new TextEncoder().encode(viewerSeed));
    const signer = nkeys.fromSeed(new TextEncoder().encode(config.viewerSigner));
    const jwt = userJwt(signer, config.account, viewer.getPublicKey(), 'viewer');
    try {
      this.connection = await nats.connect({
        servers: config.brokers,
        authenticator: nats.jwtAuthenticator(jwt, new TextEncoder().encode(viewerSeed)),
        maxReconnectAttempts: -1,
        reconnectTimeWait: 1000,
        name: 'dravnok viewer',
      });
    } catch {
      return { ok: false, error: 'the message broker of the support server cannot be reached' };
    }

    const sid = crypto.getRandomValues(new Uint8Array(SID_BYTES));
    const keys = await sessionKeys(secret, sid);
    Object.assign(this, { sid, keys, sent: 0, opener: new Opener(keys.toViewer, TO_VIEWER, sid) });
    let welcomed;
    const welcome = new Promise((resolve) => (welcomed = resolve));
    this.connection.subscribe(`dv1.${viewer.getPublicKey()}`, {
      callback: async (err, msg) => {
        if (err || msg.data.length > MAX_MESSAGE_BYTES) return;
        const message = await this.opener.open(msg.data);
        if (!message) return;
        if (message.t === 'welcome' || (message.t === 'busy' && !this.challenge)) welcomed(message);
        // Another supporter's session began between the welcome and the offer.
        else if (message.t === 'busy') this.onEvent({ evt: 'busy' });
        else if (message.t === 'event' && message.event && typeof message.event === 'object') this.onEvent(message.event);
      },
    });

    const iceServers = [];
    const hostIce = [];
    if (config.turn?.secret && Array.isArray(config.turn.urls)) {
      const ttl = config.turn.ttl || DEFAULT_TURN_TTL;
      iceServers.push({ urls: config.turn.urls, ...(await turnCredential(config.turn.secret, ttl, 'viewer')) });
      hostIce.push({ urls: config.turn.urls, ...(await turnCredential(config.turn.secret, ttl, 'host')) });
    }
    await this.post({ t: 'hello', viewer: viewer.getPublicKey(), ice: hostIce });
    const timeout = new Promise((resolve) => setTimeout(() => resolve(null), WELCOME_WAIT_MS));
    const answer = await Promise.race([welcome, timeout]);
    if (!answer) {
      this.close();
      return { ok: false, error: 'The host does not answer: it may have stopped or lost its connection.' };
    }
    if (answer.t === 'busy') {
      this.close();
      return { ok: false, error: BUSY };
    }
    this.challenge = answer.challenge;
    return { ok: true, iceServers, mode: answer.mode === 'control' ? 'control' : 'view-only' };
  }

  // On the connection of the moment it was asked for: a "stop" sent right
  // before close() still goes out.
  post(message, connection = this.connection) {
    if (!connection) return Promise.resolve();
    return seal(this.keys.toHost, TO_HOST, this.sid, this.sent++, message)
      .then((bytes) => connection.publish(this.hostSubject, bytes));
  }

  // Sealed one after another, so that their order on the wire is their order here.
  send(command) {
    const { cmd, ...body } = command;
    const message = cmd === 'offer' ? { t: 'offer', sdp: body.sdp, challenge: this.challenge } : { t: cmd, ...body };
    const connection = this.connection;
    this.queue = (this.queue || Promise.resolve()).then(() => this.post(message, connection)).catch(() => {});
    return this.queue;
  }

  close() {
    const connection = this.connection;
    this.connection = null;
    // What was sent goes out before the connection closes.
    Promise.resolve(this.queue).then(() => connection?.drain()).catch(() => {});
  }
}
