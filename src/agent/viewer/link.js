// The support server's link: what the page derives from the secret in its
// fragment, and the envelope that keeps the signalling between page and
// agent unreadable and unalterable for the broker and anyone on the way.
// Only Web Crypto here; the Ed25519 keys come from the broker client's nkeys.

const encoder = new TextEncoder();
const SALT = encoder.encode('dravnok link v1');

export const SECRET_BYTES = 32;
export const SID_BYTES = 16;
export const HEADER_BYTES = 26;
export const TAG_BYTES = 16;
export const MAX_MESSAGE_BYTES = 65536;
export const VERSION = 1;
export const TO_HOST = 1;
export const TO_VIEWER = 2;

export function base64url(bytes) {
  let text = '';
  for (const b of bytes) text += String.fromCharCode(b);
  return btoa(text).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

export function fromBase64url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text)) return null;
  const padded = text.replaceAll('-', '+').replaceAll('_', '/') + '='.repeat((4 - (text.length % 4)) % 4);
  return Uint8Array.from(atob(padded), (c) => c.charCodeAt(0));
}

// The secret from a link's fragment "#k=...", or null.
export function secretFromFragment(hash) {
  const text = new URLSearchParams(hash.replace(/^#/, '')).get('k');
  const secret = text && fromBase64url(text);
  return secret && secret.length === SECRET_BYTES ? secret : null;
}

async function hkdf(secret, info, bytes = 32) {
  const key = await crypto.subtle.importKey('raw', secret, 'HKDF', false, ['deriveBits']);
  const bits = await crypto.subtle.deriveBits({ name: 'HKDF', hash: 'SHA-256', salt: SALT, info }, key, bytes * 8);
  return new Uint8Array(bits);
}

const concat = (...parts) => {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
};

// The seed of the host's broker identity: whoever has the secret can name
// the host's subject, nobody else.
export const hostSeed = (secret) => hkdf(secret, encoder.encode('dravnok host nkey'));

// The two keys of one session, one for each direction.
export async function sessionKeys(secret, sid) {
  const key = async (label) => crypto.subtle.importKey('raw', await hkdf(secret, concat(encoder.encode(label), sid)),
    'AES-GCM', false, ['encrypt', 'decrypt']);
  return { toHost: await key('dravnok v2h'), toViewer: await key('dravnok h2v') };
}

function header(direction, sid, seq) {
  const bytes = new Uint8Array(HEADER_BYTES);
  bytes[0] = VERSION;
  bytes[1] = direction;
  bytes.set(sid, 2);
  new DataView(bytes.buffer).setBigUint64(18, BigInt(seq));
  return bytes;
}

function nonce(direction, seq) {
  const bytes = new Uint8Array(12);
  bytes[0] = direction;
  new DataView(bytes.buffer).setBigUint64(4, BigInt(seq));
  return bytes;
}

export async function seal(key, direction, sid, seq, message) {
  const head = header(direction, sid, seq);
  const sealed = await crypto.subtle.encrypt({ name: 'AES-GCM', iv: nonce(direction, seq), additionalData: head },
    key, encoder.encode(JSON.stringify(message)));
  return concat(head, new Uint8Array(sealed));
}

// One direction of one session: messages in order, each once, under its key;
// anything else is null. The form is checked before any decryption.
export class Opener {
  constructor(key, direction, sid) {
    Object.assign(this, { key, direction, sid, next: 0n });
  }

  async open(bytes) {
    if (bytes.length < HEADER_BYTES + TAG_BYTES || bytes.length > MAX_MESSAGE_BYTES) return null;
    if (bytes[0] !== VERSION || bytes[1] !== this.direction) return null;
    if (!this.sid.every((b, i) => bytes[2 + i] === b)) return null;
    const seq = new DataView(bytes.buffer, bytes.byteOffset).getBigUint64(18);
    if (seq < this.next) return null;
    let plain;
    try {
      plain = await crypto.subtle.decrypt({ name: 'AES-GCM', iv: nonce(this.direction, seq),
        additionalData: bytes.subarray(0, HEADER_BYTES) }, this.key, bytes.subarray(HEADER_BYTES));
    } catch {
      return null;
    }
    // Decryption is asynchronous: a later message may have been let in meanwhile.
    if (seq < this.next) return null;
    this.next = seq + 1n;
    try {
      const message = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(plain));
      return message && typeof message === 'object' && !Array.isArray(message) ? message : null;
    } catch {
      return null;
    }
  }
}

// nkey text of a raw seed, as the broker's clients read it: base32 of two
// prefix bytes, the seed and a CRC-16/XMODEM (little-endian).
const USER_PREFIX = 20 << 3;
const SEED_PREFIX = 18 << 3;

function crc16(bytes) {
  let crc = 0;
  for (const b of bytes) {
    crc ^= b << 8;
    for (let i = 0; i < 8; i++) crc = ((crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1) & 0xffff);
  }
  return crc;
}

function base32(bytes) {
  const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ234567';
  let bits = 0, value = 0, out = '';
  for (const b of bytes) {
    value = (value << 8) | b;
    bits += 8;
    while (bits >= 5) {
      out += alphabet[(value >>> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  if (bits > 0) out += alphabet[(value << (5 - bits)) & 31];
  return out;
}

export function userSeedText(seed) {
  const raw = concat(Uint8Array.of(SEED_PREFIX | (USER_PREFIX >> 5), (USER_PREFIX & 31) << 3), seed);
  const crc = crc16(raw);
  return base32(concat(raw, Uint8Array.of(crc & 0xff, crc >> 8)));
}

// A user JWT for `userPublic`, signed by the role's signing key pair; the
// broker gives it the role's rights whatever it says.
export function userJwt(signer, account, userPublic, name, now = Date.now()) {
  const part = (value) => base64url(encoder.encode(JSON.stringify(value)));
  const claims = { iat: Math.floor(now / 1000), iss: signer.getPublicKey(), name, sub: userPublic,
    nats: { issuer_account: account, type: 'user', version: 2 } };
  claims.jti = base32(crypto.getRandomValues(new Uint8Array(32)));
  const signed = `${part({ typ: 'JWT', alg: 'ed25519-nkey' })}.${part(claims)}`;
  return `${signed}.${base64url(signer.sign(encoder.encode(signed)))}`;
}

// TURN credentials in the shared-secret scheme: valid until `ttl` seconds
// from now, for whoever holds them.
export async function turnCredential(secret, ttl, label, now = Date.now()) {
  const username = `${Math.floor(now / 1000) + ttl}:${label}`;
  const key = await crypto.subtle.importKey('raw', encoder.encode(secret), { name: 'HMAC', hash: 'SHA-1' }, false,
    ['sign']);
  const mac = new Uint8Array(await crypto.subtle.sign('HMAC', key, encoder.encode(username)));
  return { username, credential: btoa(String.fromCharCode(...mac)) };
}
