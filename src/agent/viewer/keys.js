// The keyboard: keys go by their physical code; what an input method
// composes, and what a phone's keyboard types, goes as text. Full screen
// with the keyboard locked passes on the keys the system would take, and a
// menu sends them in any browser.
import { textMessages } from './text-input.js';

// The menu's combinations, pressed in order and released in reverse.
export const COMBOS = {
  'ctrl-alt-del': null, // the host's secure attention sequence, not keys
  'alt-tab': ['AltLeft', 'Tab'],
  'win': ['MetaLeft'],
  'ctrl-esc': ['ControlLeft', 'Escape'],
  'escape': ['Escape'],
  'print-screen': ['PrintScreen'],
  'alt-f4': ['AltLeft', 'F4'],
};

export function comboMessages(name) {
  const codes = COMBOS[name];
  if (codes === null) return [{ type: 'sas' }];
  return [...codes.map((code) => ({ type: 'keydown', code })),
    ...codes.toReversed().map((code) => ({ type: 'keyup', code }))];
}

// The page's own key: toggles full screen and never reaches the remote side.
const isFullScreenKey = (e) => e.code === 'KeyF' && e.ctrlKey && e.altKey && e.shiftKey;

// Edits a phone's keyboard makes without key codes, as the host's key names.
const EDIT_KEYS = { insertLineBreak: 'Enter', insertParagraph: 'Enter', deleteContentBackward: 'Backspace',
  deleteContentForward: 'Delete' };

// `sink` is the focusable text field over the picture that receives the
// keyboard; it stays empty.
export function attachKeyboard(sink, send, { toggleFullScreen }) {
  // Keys pressed on the remote side: released when the page loses the
  // keyboard (Alt+Tab on this computer, say), or they would stay down there.
  const down = new Set();
  const typeText = (text) => textMessages(text).forEach(send);

  sink.addEventListener('keydown', (e) => {
    // An input method is composing (229 is its "process" key): its text
    // comes at the end of the composition.
    if (e.isComposing || e.keyCode === 229) return;
    if (isFullScreenKey(e)) {
      e.preventDefault();
      toggleFullScreen();
      return;
    }
    // Soft keyboards name no physical key; their text comes as input.
    if (!e.code) return;
    e.preventDefault();
    if (e.repeat && e.code.startsWith('Shift')) return;
    down.add(e.code);
    send({ type: 'keydown', code: e.code });
  });
  sink.addEventListener('keyup', (e) => {
    if (!down.delete(e.code)) return;
    e.preventDefault();
    send({ type: 'keyup', code: e.code });
  });
  sink.addEventListener('blur', () => {
    for (const code of down) send({ type: 'keyup', code });
    down.clear();
  });
  sink.addEventListener('beforeinput', (e) => {
    if (e.isComposing || e.inputType === 'insertCompositionText') return;
    if (e.inputType === 'insertText' && e.data) typeText(e.data);
    else if (EDIT_KEYS[e.inputType]) send({ type: 'key', key: EDIT_KEYS[e.inputType] });
    e.preventDefault();
  });
  sink.addEventListener('compositionend', (e) => {
    if (e.data) typeText(e.data);
    sink.value = '';
  });
  // Some soft keyboards insert before the page can refuse it: the text has
  // gone already.
  sink.addEventListener('input', (e) => {
    if (!e.isComposing) sink.value = '';
  });
}

// Full screen for the whole page, so that the controls stay at hand. Where
// the browser has Keyboard Lock, full screen also takes the system keys
// (Alt+Tab, the Windows key, Escape: holding Escape still leaves).
export function attachFullScreen(button, onChange) {
  const toggle = async () => {
    if (document.fullscreenElement) return document.exitFullscreen();
    await document.documentElement.requestFullscreen({ navigationUI: 'hide' });
    await navigator.keyboard?.lock?.().catch(() => {});
  };
  button.addEventListener('click', () => toggle().catch(() => {}));
  document.addEventListener('fullscreenchange', () => {
    const on = !!document.fullscreenElement;
    if (!on) navigator.keyboard?.unlock?.();
    button.textContent = on ? 'Leave full screen' : 'Full screen';
    document.body.classList.toggle('full-screen', on);
    onChange(on);
  });
  return () => toggle().catch(() => {});
}

// Open menus close when the pointer goes elsewhere, and on Esc.
export function attachMenus(menus) {
  document.addEventListener('pointerdown', (e) => {
    for (const menu of menus) if (!menu.contains(e.target)) menu.open = false;
  });
  for (const menu of menus) {
    menu.addEventListener('keydown', (e) => {
      if (e.key !== 'Escape' || !menu.open) return;
      menu.open = false;
      menu.querySelector('summary').focus();
    });
  }
}

// The key menu: its items carry the combination's name.
export function attachKeyMenu(menu, send, after) {
  menu.addEventListener('click', (e) => {
    const item = e.target.closest('[data-combo]');
    if (!item) return;
    comboMessages(item.dataset.combo).forEach(send);
    menu.open = false;
    after();
  });
}
