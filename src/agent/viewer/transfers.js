// Downloads and uploads on the "files" channel, one at a time from a queue
// (the host drops an upload when a download starts), each with its
// progress, rate, time left and a cancel.
import { formatSize } from './format.js';

const UPLOAD_CHUNK = 64 * 1024;
const UPLOAD_HIGH_WATER = 4 * 1024 * 1024;
// A folder larger than this is not walked to its end.
const MAX_FOLDER_FILES = 20000;
const MAX_FOLDER_DEPTH = 64;
const KEPT_LINES = 5;
// Errors that answer a "get" which never started, and those that end a
// running download.
const UNSTARTED = ['cannot open ', 'not a file: ', 'cannot size '];
const BROKEN = /^cannot (read|send) /;
const PUT_REFUSED = /^(no filename given|not a usable file name|no writable destination folder|cannot write to )/;

const TAKEN = Symbol('taken');
const cancelled = () => Object.assign(new Error('cancelled'), { cancelled: true });

// Writes in order to a writer that may still be opening.
function inOrder(opening) {
  let tail = Promise.resolve(opening);
  const then = (step) => {
    tail = tail.then(async (writer) => {
      await step(writer);
      return writer;
    });
    tail.catch(() => {}); // seen by close()
    return tail;
  };
  return { write: (chunk) => then((w) => w.write(chunk)), close: () => then((w) => w.close()),
    abort: () => then((w) => w.abort?.()).catch(() => {}) };
}

class Transfer {
  constructor(files, name, icon) {
    this.files = files;
    this.name = name;
    this.icon = icon;
    this.done = 0;
    this.total = 0;
    this.state = 'waiting';
    this.samples = [];
    this.waiter = null;
    this.promise = new Promise((resolve, reject) => {
      this.resolve = resolve;
      this.reject = reject;
    });
    this.promise.catch(() => {}); // may fail before anyone waits for it
  }

  // Resolves with what `accept` makes of the next message it takes (it
  // returns undefined for those it leaves, TAKEN for those it takes and
  // waits on, and throws for an error).
  expect(accept) {
    return new Promise((resolve, reject) => (this.waiter = { accept, resolve, reject }));
  }

  message(m) {
    const waiter = this.waiter;
    if (!waiter) return false;
    let value;
    try {
      value = waiter.accept(m);
    } catch (err) {
      this.waiter = null;
      waiter.reject(err);
      return true;
    }
    if (value === undefined) return false;
    if (value === TAKEN) return true;
    this.waiter = null;
    waiter.resolve(value);
    return true;
  }

  binary() {}

  stop(error) {
    this.stopped ??= error;
    this.waiter?.reject(error);
    this.waiter = null;
    this.wake?.();
  }

  // What is sent after a cancel is still on its way: the answer to a
  // request made after it comes behind all of that.
  async settle() {
    const probe = this.files.join(`.dravnok-${Math.random().toString(36).slice(2)}`, this.files.home);
    this.files.sendJson({ t: 'ls', path: probe });
    await this.expect((m) => ((m.t === 'ls-res' && m.path === probe) ||
      (m.t === 'error' && m.msg === `cannot open ${probe}`)) || undefined);
  }

  progress(bytes) {
    this.done += bytes;
    const now = performance.now();
    this.samples.push([now, this.done]);
    while (this.samples.length > 2 && now - this.samples[0][0] > 3000) this.samples.shift();
    this.onProgress?.();
  }

  // Bytes a second over the last seconds.
  rate() {
    const [first, last] = [this.samples[0], this.samples.at(-1)];
    return first && last[0] > first[0] ? ((last[1] - first[1]) * 1000) / (last[0] - first[0]) : 0;
  }
}

// One file, or a folder's files one after another, into `target`, whose
// open(path parts, size, time) gives the writer of one file.
export class Download extends Transfer {
  constructor(files, path, target, folder) {
    super(files, path.split(/[\\/]/).filter(Boolean).at(-1) || path, '\u2193');
    Object.assign(this, { path, target, folder, skipped: [], count: 0, index: 0 });
  }

  async run() {
    const items = this.folder ? await this.walk() : [{ path: this.path, parts: [this.name], time: 0 }];
    this.count = items.length;
    for (const item of items) {
      this.index++;
      try {
        await this.fetch(item);
      } catch (err) {
        if (!this.folder || this.stopped) throw err;
        this.skipped.push(`${item.parts.join('/')} (${err.message})`);
      }
    }
    await this.target.finish();
    return this;
  }

  // The folder's files, and their total size.
  async walk() {
    const items = [];
    const folders = [{ path: this.path, parts: [this.name] }];
    while (folders.length) {
      const folder = folders.shift();
      this.files.sendJson({ t: 'ls', path: folder.path });
      const entries = await this.expect((m) => {
        if (m.t === 'ls-res' && m.path === folder.path) return m.entries || [];
        if (m.t === 'error' && m.msg === `cannot open ${folder.path}`) return null;
      });
      if (!entries) this.skipped.push(`${folder.parts.join('/')}/ (cannot open)`);
      for (const e of entries || []) {
        const next = { path: this.files.join(e.n, folder.path), parts: [...folder.parts, e.n], time: e.m };
        if (!e.d) {
          items.push(next);
          this.total += e.s;
        } else if (next.parts.length <= MAX_FOLDER_DEPTH) {
          folders.push(next);
        }
      }
      if (items.length > MAX_FOLDER_FILES) throw new Error(`more than ${MAX_FOLDER_FILES} files`);
    }
    return items;
  }

  async fetch(item) {
    this.files.sendJson({ t: 'get', path: item.path });
    // The data follows "get-meta" at once: its writer is there before it.
    let writer = null;
    try {
      await this.expect((m) => {
        if (!writer && m.t === 'get-meta') {
          if (!this.folder) this.total = m.size;
          writer = this.writer = inOrder(this.target.open(item.parts, m.size, item.time));
          return TAKEN;
        }
        if (!writer && m.t === 'error' && UNSTARTED.some((text) => m.msg === text + item.path)) throw new Error(m.msg);
        if (writer && m.t === 'get-done') return true;
        if (writer && m.t === 'error' && BROKEN.test(m.msg)) throw new Error(m.msg);
      });
    } catch (err) {
      writer?.abort();
      throw err;
    } finally {
      this.writer = null;
    }
    await writer.close();
  }

  binary(data) {
    if (!this.writer) return;
    this.writer.write(data);
    this.progress(data.byteLength);
  }

  cleanUp() {
    this.target.abort();
  }
}

export class Upload extends Transfer {
  constructor(files, file, dir) {
    super(files, file.name, '\u2191');
    Object.assign(this, { file, dir, total: file.size });
  }

  async run() {
    const { files, file } = this;
    const channel = files.channel;
    this.started = true;
    files.sendJson({ t: 'put', name: file.name, dir: this.dir, size: file.size });
    this.path = await this.expect((m) => {
      if (m.t === 'put-ready') return m.path;
      if (m.t === 'error' && PUT_REFUSED.test(m.msg)) throw new Error(m.msg);
    });
    for (let offset = 0; offset < file.size; offset += UPLOAD_CHUNK) {
      if (channel.bufferedAmount > UPLOAD_HIGH_WATER) await this.drained();
      const chunk = await file.slice(offset, offset + UPLOAD_CHUNK).arrayBuffer();
      if (this.stopped) throw this.stopped;
      channel.send(chunk);
      this.progress(chunk.byteLength);
    }
    const reply = this.expect((m) => {
      if (m.t === 'put-ok') return m;
      if (m.t === 'error' && 'received' in m) throw new Error(m.msg);
    });
    files.sendJson({ t: 'put-done' });
    this.finishing = true;
    return reply;
  }

  // Resolves when the channel has room again, or the upload stopped.
  drained() {
    const channel = this.files.channel;
    return new Promise((resolve) => {
      this.wake = resolve;
      channel.bufferedAmountLowThreshold = UPLOAD_CHUNK * 4;
      channel.addEventListener('bufferedamountlow', resolve, { once: true });
    });
  }

  // An upload that broke off on this side leaves the host's file open.
  cleanUp() {
    if (this.path && !this.finishing && !this.stopped) this.files.sendJson({ t: 'cancel' });
  }
}

// What a finished transfer's line says.
function outcome(job) {
  if (job.state === 'done' && job instanceof Upload) return `uploaded to ${job.path}`;
  if (job.state === 'done') {
    const skipped = job.skipped.length ? `; not saved: ${job.skipped.join(', ')}` : '';
    return `${job.folder ? `${job.count - job.skipped.length} files` : formatSize(job.done)} saved${skipped}`;
  }
  if (job.state === 'cancelled' && job.started) {
    return `cancelled: the ${formatSize(job.done)} sent so far stay on the remote computer as a partial file` +
      (job.path ? ` (${job.path})` : '');
  }
  return job.state === 'cancelled' ? 'cancelled' : `failed: ${job.error.message}`;
}

function progressText(job) {
  if (job.state === 'waiting') return 'waiting';
  if (!job.done && !job.total) return job.folder ? 'listing the folder\u2026' : 'starting\u2026';
  const rate = job.rate();
  const left = rate > 0 && job.total > job.done ? ` \u00b7 ${Math.ceil((job.total - job.done) / rate)} s left` : '';
  const file = job.folder ? ` \u00b7 file ${job.index} of ${job.count}` : '';
  return `${formatSize(job.done)} of ${formatSize(job.total)} \u00b7 ${formatSize(rate)}/s${left}${file}`;
}

// The queue and its list on the page.
export class TransferQueue {
  constructor(list, notice) {
    this.list = list;
    list.replaceChildren(); // a new session's
    this.notice = notice;
    this.jobs = [];
    this.running = null;
  }

  add(job) {
    this.jobs.push(job);
    this.line(job);
    this.next();
    return job.promise;
  }

  next() {
    if (this.running) return;
    const job = this.jobs.find((j) => j.state === 'waiting');
    if (!job) return;
    this.running = job;
    job.state = 'running';
    this.show(job);
    job.run().then((value) => this.end(job, null, value), (error) => this.end(job, job.stopped || error));
  }

  async end(job, error, value) {
    if (error) job.cleanUp();
    job.state = !error ? 'done' : error.cancelled ? 'cancelled' : 'failed';
    job.error = error;
    this.show(job);
    if (error?.cancelled && job.sentCancel) await job.settle().catch(() => {});
    error ? job.reject(error) : job.resolve(value);
    if (job.state !== 'done' || job.skipped?.length) this.notice(`${job.name}: ${outcome(job)}`);
    this.running = null;
    this.prune();
    this.next();
  }

  cancel(job = this.running) {
    if (!job) return;
    if (job.state === 'waiting') {
      job.state = 'cancelled';
      job.reject(cancelled());
      this.show(job);
      this.prune();
    } else if (job.state === 'running' && !job.stopped) {
      job.files.sendJson({ t: 'cancel' });
      job.sentCancel = true;
      job.stop(cancelled());
    }
  }

  // The lines of the last few finished transfers stay.
  prune() {
    const ended = this.jobs.filter((j) => !['waiting', 'running'].includes(j.state));
    for (const old of ended.slice(0, -KEPT_LINES)) {
      old.row.remove();
      this.jobs.splice(this.jobs.indexOf(old), 1);
    }
  }

  // The channel has gone: nothing more can come.
  abortAll(error) {
    for (const job of this.jobs) {
      if (job.state === 'waiting') this.cancel(job);
    }
    this.running?.stop(error);
  }

  line(job) {
    const row = (job.row = document.createElement('li'));
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = `${job.icon} ${job.name}${job.folder ? '/' : ''}`;
    const bar = (job.bar = document.createElement('progress'));
    bar.max = 1;
    bar.value = 0;
    const text = (job.text = document.createElement('span'));
    text.className = 'figures';
    const button = (job.button = document.createElement('button'));
    button.textContent = 'Cancel';
    button.setAttribute('aria-label', `Cancel ${job.name}`);
    button.addEventListener('click', () => this.cancel(job));
    row.append(name, button, bar, text);
    this.list.append(row);
    let shown = 0;
    job.onProgress = () => {
      if (performance.now() - shown < 250 && job.done < job.total) return;
      shown = performance.now();
      this.show(job);
    };
    this.show(job);
  }

  show(job) {
    job.row.className = `transfer ${job.state}`;
    job.bar.value = job.total ? Math.min(1, job.done / job.total) : 0;
    job.text.textContent = ['waiting', 'running'].includes(job.state) ? progressText(job) : outcome(job);
    job.button.hidden = !['waiting', 'running'].includes(job.state);
  }
}
