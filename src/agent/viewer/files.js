// The file browser on the "files" channel: listings, and the transfers
// that its rows and the upload box start.
import { formatSize } from './format.js';
import { asZip, inMemory, intoFolder, saveBlob } from './save.js';
import { Download, TransferQueue, Upload } from './transfers.js';

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
    this.completed = []; // finished single downloads, for whoever wants the bytes
    this.transfers = new TransferQueue(ui.queue, (text) => ui.onError?.(text));
    channel.binaryType = 'arraybuffer';
    channel.addEventListener('message', (e) => this.onMessage(e.data));
    channel.addEventListener('close', () => this.transfers.abortAll(new Error('the files channel closed')));
  }

  sendJson(message) {
    if (this.channel.readyState === 'open') this.channel.send(JSON.stringify(message));
  }

  list(path) {
    this.sendJson({ t: 'ls', path });
  }

  join(name, folder = this.path) {
    if (!folder) return name; // a drive root
    return folder.endsWith(this.sep) ? folder + name : folder + this.sep + name;
  }

  // One file into the browser's downloads; resolves once it is saved.
  get(path) {
    const saved = inMemory((blob, name, size) => {
      this.completed.push({ name, size, blob });
      saveBlob(blob, name);
    });
    return this.transfers.add(new Download(this, path, saved, false));
  }

  // A folder's files into `target` (save.js), one after another.
  getFolder(path, target) {
    const job = new Download(this, path, target, true);
    target.onCancel = () => this.transfers.cancel(job);
    return this.transfers.add(job);
  }

  // Asks where to, inside the click that wants it: a picked folder where the
  // browser can write to one, else a zip archive.
  async downloadFolder(path, name) {
    if (!window.showDirectoryPicker) return this.getFolder(path, asZip(`${name}.zip`));
    let root;
    try {
      root = await window.showDirectoryPicker({ id: 'dravnok-downloads', mode: 'readwrite' });
    } catch (err) {
      if (err.name === 'AbortError') return null; // the supporter changed their mind
      throw err;
    }
    return this.getFolder(path, intoFolder(root));
  }

  put(file, dir = this.path) {
    const done = this.transfers.add(new Upload(this, file, dir));
    // The new file, or what a cancel left of it, shows in its folder.
    done.catch(() => {}).then(() => dir === this.path && this.list(dir));
    return done;
  }

  cancel() {
    this.transfers.cancel();
  }

  onMessage(data) {
    if (typeof data !== 'string') return this.transfers.running?.binary(data);
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    if (this.transfers.running?.message(message)) return;
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
      case 'error':
        this.ui.onError?.(message.msg);
        break;
    }
  }

  render() {
    this.ui.path.textContent = this.path || 'Drives';
    const list = this.ui.list;
    list.replaceChildren();
    const sorted = [...this.entries].sort((a, b) => (b.d - a.d) || a.n.localeCompare(b.n));
    for (const entry of sorted) {
      const item = document.createElement('li');
      item.dataset.name = entry.n;
      item.classList.toggle('folder', !!entry.d);
      const open = document.createElement('button');
      open.className = 'entry';
      open.title = entry.d ? 'Open folder' : 'Download';
      // A trailing slash marks folders in any font; picture icons need an
      // emoji font that many desktops lack.
      open.textContent = entry.d ? `${entry.n}/` : entry.n;
      const size = document.createElement('span');
      size.className = 'size';
      size.textContent = entry.d ? '' : formatSize(entry.s);
      const path = this.join(entry.n);
      open.addEventListener('click', () => (entry.d ? this.list(path) : this.get(path)));
      item.append(open, size);
      if (entry.d && this.path) {
        const whole = document.createElement('button');
        whole.className = 'download-folder';
        whole.textContent = '\u2193';
        whole.title = `Download the folder ${entry.n}`;
        whole.setAttribute('aria-label', whole.title);
        whole.addEventListener('click',
          () => this.downloadFolder(path, entry.n).catch((e) => this.ui.onError?.(e.message)));
        item.append(whole);
      }
      list.append(item);
    }
  }
}
