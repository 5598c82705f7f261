// Where downloads go: a single file to the browser's downloads once it is
// complete; a folder into a folder the supporter picks (File System
// Access), or else as a zip archive that the browser saves as it comes.
import { ZipWriter } from './zip.js';

const KEEP_AWAKE_MS = 10000;

export function saveBlob(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// Each file in memory until it is complete, then handed to `done`.
export function inMemory(done) {
  return {
    open(parts, size) {
      const chunks = [];
      return { write: (c) => chunks.push(c), close: () => done(new Blob(chunks), parts.at(-1), size) };
    },
    finish() {},
    abort() {},
  };
}

// Files written into `root` (a directory handle), folders made as needed.
export function intoFolder(root) {
  return {
    async open(parts) {
      let dir = root;
      for (const part of parts.slice(0, -1)) dir = await dir.getDirectoryHandle(part, { create: true });
      const file = await (await dir.getFileHandle(parts.at(-1), { create: true })).createWritable();
      return { write: (c) => file.write(c), close: () => file.close(), abort: () => file.abort() };
    },
    finish() {},
    abort() {},
  };
}

async function downloadWorker() {
  try {
    await navigator.serviceWorker.register('download-worker.js');
    return (await navigator.serviceWorker.ready).active;
  } catch {
    return null; // none here (a private window, say): the archive is made in memory
  }
}

// A download that the browser saves as the bytes come; `onCancel` runs
// when the supporter cancels it in the browser.
async function streamedDownload(name, onCancel) {
  const worker = await downloadWorker();
  if (!worker) {
    const parts = [];
    return { write: (b) => parts.push(b), close: () => saveBlob(new Blob(parts), name), abort() {} };
  }
  const { port1, port2 } = new MessageChannel();
  const id = Math.random().toString(36).slice(2) + Date.now().toString(36);
  await new Promise((resolve) => {
    port1.onmessage = resolve;
    worker.postMessage({ id, name }, [port2]);
  });
  port1.onmessage = ({ data }) => data === 'cancelled' && onCancel();
  const awake = setInterval(() => worker.postMessage('awake'), KEEP_AWAKE_MS);
  const frame = document.createElement('iframe');
  frame.hidden = true;
  frame.src = `download/${id}`;
  document.body.append(frame);
  const end = (message) => {
    clearInterval(awake);
    port1.postMessage(message);
    setTimeout(() => frame.remove(), 60000);
  };
  return {
    write: (bytes) => port1.postMessage(bytes), // a copy: the writer may still need its bytes
    close: () => end('end'),
    abort: () => end('abort'),
  };
}

// The files as one zip archive named `name`.
export function asZip(name) {
  const target = { onCancel: () => {} };
  let zip = null;
  const start = () => (zip ??= streamedDownload(name, () => target.onCancel()).then((out) => new ZipWriter(out)));
  return Object.assign(target, {
    open: (parts, size, time) => start().then((z) => z.open(parts.join('/'), size, time)),
    finish: () => start().then((z) => z.finish()),
    abort: () => zip?.then((z) => z.out.abort()).catch(() => {}),
  });
}
