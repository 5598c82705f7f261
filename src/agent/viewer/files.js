// The file browser on the "files" channel: listings, one download and one
// upload at a time, with progress and cancel.
const UPLOAD_CHUNK = 64 * 1024;
const UPLOAD_HIGH_WATER = 4 * 1024 * 1024;

// Which running transfer an "error" ends: the host's texts tell. A failed
// put-done carries the byte count, a download that breaks on the way says
// "cannot read" or "cannot send", and a put that cannot start names the
// name or the folder. Any other error answers a listing or a get that never
// started, and ends nothing that runs.
function transferEndedBy(message) {
  if ('received' in message) return 'upload';
  const text = String(message.msg ?? '');
  if (/^cannot (read|send) /.test(text)) return 'download';
  if (/^(no filename given|not a usable file name|no writable destination folder|cannot write to )/.test(text)) {
    return 'upload';
  }
  return null;
}

function formatSize(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  const units = ['KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes / 1024;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit++;
  }
  return `${value.toFixed(1)} ${units[unit]}`;
}

export class FileBrowser {
  constructor(channel, ui) {
    this.channel = channel;
    this.ui = ui;
    this.sep = '\\';
    this.home = '';
    this.downloads = '';
    this.path = '';
    this.up = '';
    this.entries = [];
    this.download = null;
    this.upload = null;
    this.completed = []; // finished downloads, for whoever wants the bytes
    channel.binaryType = 'arraybuffer';
    channel.addEventListener('message', (e) => this.onMessage(e.data));
    channel.addEventListener('close', () => {
      if (this.download) this.finishDownload(false);
      this.failUpload(new Error('the files channel closed'));
    });
  }

  sendJson(message) {
    if (this.channel.readyState === 'open') this.channel.send(JSON.stringify(message));
  }

  list(path) {
    this.sendJson({ t: 'ls', path });
  }

  join(name) {
    if (!this.path) return name; // a drive root
    return this.path.endsWith(this.sep) ? this.path + name : this.path + this.sep + name;
  }

  get(path) {
    // The host drops a running download, and an upload it has not been told
    // to finish, when another download starts; so does the page.
    if (this.download) this.finishDownload(false);
    if (!this.upload?.finishing) this.failUpload(new Error('the upload was stopped by a download'));
    this.sendJson({ t: 'get', path });
  }

  failUpload(error) {
    const upload = this.upload;
    if (!upload || upload.error) return;
    upload.error = error;
    upload.rejectReady(error);
    upload.rejectDone(error);
    upload.wake?.();
  }

  cancel() {
    this.sendJson({ t: 'cancel' });
    if (this.download) this.finishDownload(false);
    if (this.upload) {
      this.upload.cancelled = true;
      this.upload.wake?.();
    }
  }

  async put(file) {
    if (this.upload) throw new Error('an upload is already running');
    const upload = { file, sent: 0, cancelled: false };
    this.upload = upload;
    upload.ready = new Promise((resolve, reject) => {
      upload.resolveReady = resolve;
      upload.rejectReady = reject;
    });
    upload.done = new Promise((resolve, reject) => {
      upload.resolveDone = resolve;
      upload.rejectDone = reject;
    });
    upload.done.catch(() => {}); // may fail before anyone waits for it
    this.sendJson({ t: 'put', name: file.name, dir: this.path, size: file.size });
    this.progress(`Uploading ${file.name}`, 0);
    try {
      await upload.ready;
      for (let offset = 0; offset < file.size && !upload.cancelled && !upload.error; offset += UPLOAD_CHUNK) {
        if (this.channel.bufferedAmount > UPLOAD_HIGH_WATER) await this.drained(upload);
        const chunk = await file.slice(offset, offset + UPLOAD_CHUNK).arrayBuffer();
        if (upload.error) break;
        this.channel.send(chunk);
        upload.sent = offset + chunk.byteLength;
        this.progress(`Uploading ${file.name}`, upload.sent / file.size);
      }
      if (upload.error) throw upload.error;
      if (upload.cancelled) throw new Error('cancelled');
      upload.finishing = true;
      this.sendJson({ t: 'put-done' });
      return await upload.done;
    } finally {
      this.upload = null;
      this.progress(null);
      if (this.path) this.list(this.path);
    }
  }

  // Resolves when the channel has room again, or the upload failed.
  drained(upload) {
    return new Promise((resolve) => {
      upload.wake = resolve;
      this.channel.bufferedAmountLowThreshold = UPLOAD_CHUNK * 4;
      this.channel.addEventListener('bufferedamountlow', resolve, { once: true });
    });
  }

  onMessage(data) {
    if (typeof data !== 'string') {
      if (!this.download) return;
      this.download.parts.push(data);
      this.download.received += data.byteLength;
      this.progress(`Downloading ${this.download.name}`, this.download.received / Math.max(1, this.download.size));
      return;
    }
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    switch (message.t) {
      case 'hello':
        this.sep = message.sep || '\\';
        this.home = message.home || '';
        this.downloads = message.downloads || '';
        this.list(this.home);
        break;
      case 'ls-res':
        this.path = message.path;
        this.up = message.up;
        this.entries = message.entries || [];
        this.render();
        break;
      case 'get-meta':
        this.download = { name: message.name, size: message.size, received: 0, parts: [] };
        this.progress(`Downloading ${message.name}`, 0);
        if (message.size === 0) break;
        break;
      case 'get-done':
        this.finishDownload(true);
        break;
      case 'put-ready':
        this.upload?.resolveReady(message.path);
        break;
      case 'put-ok':
        this.upload?.resolveDone(message);
        break;
      case 'error': {
        this.ui.onError?.(message.msg);
        const ended = transferEndedBy(message);
        if (ended === 'upload') this.failUpload(new Error(message.msg));
        if (ended === 'download' && this.download) this.finishDownload(false);
        break;
      }
    }
  }

  finishDownload(complete) {
    const download = this.download;
    this.download = null;
    this.progress(null);
    if (!complete || !download) return;
    const blob = new Blob(download.parts);
    this.completed.push({ name: download.name, size: download.size, blob });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = download.name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  progress(label, fraction) {
    this.ui.transfer.hidden = label === null;
    if (label === null) return;
    this.ui.transferLabel.textContent = label;
    this.ui.transferProgress.value = fraction;
  }

  render() {
    this.ui.path.textContent = this.path || 'Drives';
    const list = this.ui.list;
    list.replaceChildren();
    const sorted = [...this.entries].sort((a, b) => (b.d - a.d) || a.n.localeCompare(b.n));
    for (const entry of sorted) {
      const item = document.createElement('li');
      item.dataset.name = entry.n;
      item.title = entry.d ? 'Open folder' : 'Download';
      const name = document.createElement('span');
      // A trailing slash marks folders in any font; picture icons need an
      // emoji font that many desktops lack.
      name.textContent = entry.d ? `${entry.n}/` : entry.n;
      item.classList.toggle('folder', !!entry.d);
      const size = document.createElement('span');
      size.className = 'size';
      size.textContent = entry.d ? '' : formatSize(entry.s);
      item.append(name, size);
      item.addEventListener('click', () => (entry.d ? this.list(this.join(entry.n)) : this.get(this.join(entry.n))));
      list.append(item);
    }
  }
}
