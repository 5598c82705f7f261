// Text typed as characters, whatever the two keyboard layouts: the host's
// "text" messages. Line breaks and tabs go as the keys, which is what an
// editor or a password field expects of them.

// The host types at most this many UTF-16 units from one message and drops
// a longer text whole.
export const TEXT_UNITS = 4096;

// The messages that type `text`: pieces within the host's limit, never
// split inside a surrogate pair.
export function textMessages(text) {
  const messages = [];
  for (const part of String(text).split(/(\r\n|\r|\n|\t)/)) {
    if (part === '\t') messages.push({ type: 'key', key: 'Tab' });
    else if (/^[\r\n]/.test(part)) messages.push({ type: 'key', key: 'Enter' });
    else for (let start = 0; start < part.length;) {
      let end = Math.min(part.length, start + TEXT_UNITS);
      if (end < part.length && /[\ud800-\udbff]/.test(part[end - 1])) end--;
      messages.push({ type: 'text', text: part.slice(start, end) });
      start = end;
    }
  }
  return messages;
}

// The "Type text" box: its content is typed on the remote computer and the
// box is emptied, so that a password does not linger on the page.
export function attachTypeText(form, box, send, done) {
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    for (const message of textMessages(box.value)) send(message);
    box.value = '';
    done();
  });
  // Enter types, Shift+Enter starts a new line.
  box.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && !e.shiftKey && !e.isComposing) {
      e.preventDefault();
      form.requestSubmit();
    }
  });
}
