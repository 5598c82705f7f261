// Streams a download that the page makes as it goes, so that it is never
// held whole: the page hands over a port, a hidden frame asks for the
// file, and the answer is what the page posts to the port.
const pending = new Map();

self.addEventListener('install', () => self.skipWaiting());
self.addEventListener('activate', (e) => e.waitUntil(self.clients.claim()));

self.addEventListener('message', (e) => {
  // Other messages only keep the worker awake.
  if (typeof e.data?.id !== 'string' || !e.ports[0]) return;
  pending.set(e.data.id, { name: String(e.data.name), port: e.ports[0] });
  e.ports[0].postMessage('ready');
});

self.addEventListener('fetch', (e) => {
  const id = /\/download\/([0-9a-z]+)$/.exec(new URL(e.request.url).pathname)?.[1];
  const entry = id && pending.get(id);
  if (!entry) return;
  pending.delete(id);
  let ended;
  const done = new Promise((resolve) => (ended = resolve));
  const body = new ReadableStream({
    start(controller) {
      entry.port.onmessage = ({ data }) => {
        if (data === 'end') controller.close();
        else if (data === 'abort') controller.error(new Error('cancelled'));
        else return controller.enqueue(new Uint8Array(data));
        ended();
      };
    },
    // The browser's download was cancelled.
    cancel() {
      entry.port.postMessage('cancelled');
      ended();
    },
  });
  e.respondWith(new Response(body, {
    headers: {
      'Content-Type': 'application/octet-stream',
      'Content-Disposition': `attachment; filename*=UTF-8''${encodeURIComponent(entry.name)}`,
    },
  }));
  e.waitUntil(done);
});
