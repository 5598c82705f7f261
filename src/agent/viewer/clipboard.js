// Clipboard messages on the "input" channel: text, and PNG images in
// base64 chunks of 16000 characters.
const CHUNK = 16000;

function bytesToBase64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

export function imageMessages(pngBytes) {
  const data = bytesToBase64(pngBytes);
  const total = Math.ceil(data.length / CHUNK);
  const messages = [];
  for (let seq = 0; seq < total; seq++) {
    messages.push({ type: 'clipimg', seq, total, data: data.slice(seq * CHUNK, (seq + 1) * CHUNK) });
  }
  return messages;
}

export class ClipboardSync {
  constructor(send, ui) {
    this.send = send;
    this.ui = ui;
    this.chunks = [];
    this.expected = 0;
    this.lastText = null;
    this.lastImage = null;
    this.imageUrl = null;
  }

  sendText(text) {
    this.send({ type: 'clipboard', text });
  }

  sendImage(pngBytes) {
    for (const message of imageMessages(pngBytes)) this.send(message);
  }

  async sendLocalClipboard() {
    try {
      const items = await navigator.clipboard.read();
      for (const item of items) {
        if (item.types.includes('image/png')) {
          const blob = await item.getType('image/png');
          this.sendImage(new Uint8Array(await blob.arrayBuffer()));
          return 'image';
        }
        if (item.types.includes('text/plain')) {
          this.sendText(await (await item.getType('text/plain')).text());
          return 'text';
        }
      }
    } catch (err) {
      // No permission: the text box is the way then.
      this.sendText(this.ui.text.value);
      return 'text box';
    }
    return 'nothing';
  }

  request() {
    this.send({ type: 'clipget' });
  }

  watch(on) {
    this.send({ type: 'clipwatch', on });
  }

  // Messages from the host; true when the message was a clipboard one.
  receive(message) {
    if (message.type === 'clipdata') {
      this.lastText = message.text;
      this.ui.text.value = message.text;
      navigator.clipboard?.writeText(message.text).catch(() => {});
      return true;
    }
    if (message.type === 'clipimgdata') {
      if (message.seq === 0 || message.total !== this.expected) {
        this.chunks = [];
        this.expected = message.total;
      }
      this.chunks[message.seq] = message.data;
      if (this.chunks.filter((c) => c !== undefined).length === this.expected) {
        const data = this.chunks.join('');
        this.chunks = [];
        const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
        this.lastImage = bytes;
        const blob = new Blob([bytes], { type: 'image/png' });
        // With automatic sync every change brings a new image: let the
        // previous one go.
        if (this.imageUrl) URL.revokeObjectURL(this.imageUrl);
        this.imageUrl = URL.createObjectURL(blob);
        this.ui.image.src = this.imageUrl;
        this.ui.image.hidden = false;
        if (window.ClipboardItem) {
          navigator.clipboard?.write([new ClipboardItem({ 'image/png': blob })]).catch(() => {});
        }
      }
      return true;
    }
    return false;
  }
}
