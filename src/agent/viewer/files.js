// The file browser on the "files" channel: listings, one download and one
// upload at a time, with progress and cancel.
const UPLOAD_CHUNK = 64 * 1024;
const UPLOAD_HIGH_WATER = 4 * 1024 * 1024;

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
    this.sendJson({ t: 'get', path });
  }

  cancel() {
    this.sendJson({ t: 'cancel' });
    if (this.download) this.finishDownload(false);
    if (this.upload) this.upload.cancelled = true;
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
    this.sendJson({ t: 'put', name: file.name, dir: this.path, size: file.size });
    this.progress(`Uploading ${file.name}`, 0);
    try {
      await upload.ready;
      for (let offset = 0; offset < file.size && !upload.cancelled; offset += UPLOAD_CHUNK) {
        if (this.channel.bufferedAmount > UPLOAD_HIGH_WATER) await this.drained();
        const chunk = await file.slice(offset, offset + UPLOAD_CHUNK).arrayBuffer();
        this.channel.send(chunk);
        upload.sent = offset + chunk.byteLength;
        this.progress(`Uploading ${file.name}`, upload.sent / file.size);
      }
      if (upload.cancelled) throw new Error('cancelled');
      this.sendJson({ t: 'put-done' });
      return await upload.done;
    } finally {
      this.upload = null;
      this.progress(null);
      if (this.path) this.list(this.path);
    }
  }

  drained() {
    return new Promise((resolve) => {
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
      case 'error':
        this.ui.onError?.(message.msg);
        if (this.upload) {
          this.upload.rejectReady?.(new Error(message.msg));
          this.upload.rejectDone?.(new Error(message.msg));
        }
        if (this.download) this.finishDownload(false);
        break;
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
