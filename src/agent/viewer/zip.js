// A zip archive written as it goes, never held whole: stored entries (the
// page only counts and checks), their CRC-32 and sizes after the data, and
// the 64-bit forms where 32 bits do not reach.
const LIMIT = 0xffffffff;
const FLAGS = 0x0808; // sizes after the data; names in UTF-8

const CRC_TABLE = Uint32Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});

export function crc32(crc, bytes) {
  let c = ~crc;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

// [value, bytes] pairs, little-endian; 8-byte values go beyond 32 bits.
function le(...fields) {
  const out = new Uint8Array(fields.reduce((n, [, size]) => n + size, 0));
  const view = new DataView(out.buffer);
  let at = 0;
  for (const [value, size] of fields) {
    if (size === 2) view.setUint16(at, value, true);
    else view.setUint32(at, value % 2 ** 32, true);
    if (size === 8) view.setUint32(at + 4, Math.floor(value / 2 ** 32), true);
    at += size;
  }
  return out;
}

const low = (value) => Math.min(value, LIMIT);

// Local time as the format keeps it, from 1980 on.
function dosTime(ms) {
  const d = new Date(Math.max(ms || Date.now(), new Date(1980, 0, 1).getTime()));
  return [(d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
    ((d.getFullYear() - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate()];
}

export class ZipWriter {
  // `out` takes the archive's bytes in order: write(Uint8Array), close().
  constructor(out) {
    this.out = out;
    this.offset = 0;
    this.entries = [];
  }

  put(...parts) {
    for (const bytes of parts) {
      this.offset += bytes.length;
      this.out.write(bytes);
    }
  }

  // The writer of one entry; `size` is the size announced before the data.
  open(name, size, time) {
    const big = size >= LIMIT;
    const entry = { name: new TextEncoder().encode(name), time: dosTime(time), big, offset: this.offset, crc: 0, size: 0 };
    const extra = big ? le([1, 2], [16, 2], [0, 8], [0, 8]) : new Uint8Array(0);
    this.put(le([0x04034b50, 4], [big ? 45 : 20, 2], [FLAGS, 2], [0, 2], [entry.time[0], 2], [entry.time[1], 2],
      [0, 4], [big ? LIMIT : 0, 4], [big ? LIMIT : 0, 4], [entry.name.length, 2], [extra.length, 2]), entry.name, extra);
    return {
      write: (chunk) => {
        const bytes = new Uint8Array(chunk);
        entry.crc = crc32(entry.crc, bytes);
        entry.size += bytes.length;
        this.put(bytes);
      },
      close: () => {
        if (!big && entry.size >= LIMIT) throw new Error('the file grew past 4 GiB while it was read');
        const width = big ? 8 : 4;
        this.put(le([0x08074b50, 4], [entry.crc, 4], [entry.size, width], [entry.size, width]));
        this.entries.push(entry);
      },
    };
  }

  finish() {
    const start = this.offset;
    for (const e of this.entries) {
      const wide = [];
      if (e.size >= LIMIT) wide.push([e.size, 8], [e.size, 8]);
      if (e.offset >= LIMIT) wide.push([e.offset, 8]);
      const extra = wide.length ? le([1, 2], [wide.length * 8, 2], ...wide) : new Uint8Array(0);
      const version = wide.length || e.big ? 45 : 20;
      this.put(le([0x02014b50, 4], [version, 2], [version, 2], [FLAGS, 2], [0, 2], [e.time[0], 2], [e.time[1], 2],
        [e.crc, 4], [low(e.size), 4], [low(e.size), 4], [e.name.length, 2], [extra.length, 2], [0, 2], [0, 2], [0, 2],
        [0, 4], [low(e.offset), 4]), e.name, extra);
    }
    const count = this.entries.length, size = this.offset - start;
    if (count >= 0xffff || start >= LIMIT || size >= LIMIT) {
      const at = this.offset;
      this.put(le([0x06064b50, 4], [44, 8], [45, 2], [45, 2], [0, 4], [0, 4], [count, 8], [count, 8], [size, 8],
        [start, 8]), le([0x07064b50, 4], [0, 4], [at, 8], [1, 4]));
    }
    this.put(le([0x06054b50, 4], [0, 2], [0, 2], [Math.min(count, 0xffff), 2], [Math.min(count, 0xffff), 2],
      [low(size), 4], [low(start), 4], [0, 2]));
    this.out.close();
  }
}
