#include "input/x11/unicode_typer.h"

#include "input/x11/key_symbols.h"
#include "input/x11/x_error_trap.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace dravnok::x11 {
namespace {

struct XFreeDeleter {
  void operator()(void* data) const {
    if (data) XFree(data);
  }
};

// A copy of the core keyboard map.
class Keymap {
public:
  explicit Keymap(Display* display) {
    XDisplayKeycodes(display, &minKeycode_, &maxKeycode_);
    int count = maxKeycode_ - minKeycode_ + 1;
    symbols_.reset(XGetKeyboardMapping(display, KeyCode(minKeycode_), count, &perKeycode_));
    if (!symbols_) perKeycode_ = 0;
  }

  struct Place {
    KeyCode keycode;
    bool shifted;
  };

  // The key that gives `keysym` on its first level, else on its second.
  std::optional<Place> locate(KeySym keysym) const {
    for (int column = 0; column < 2 && column < perKeycode_; ++column) {
      for (int code = minKeycode_; code <= maxKeycode_; ++code) {
        if (at(code, column) == keysym) return Place{KeyCode(code), column == 1};
      }
    }
    return std::nullopt;
  }

  // Keycodes that carry no symbol at all, free to borrow.
  std::vector<KeyCode> spareKeycodes() const {
    std::vector<KeyCode> spare;
    for (int code = minKeycode_; code <= maxKeycode_; ++code) {
      bool empty = true;
      for (int column = 0; column < perKeycode_ && empty; ++column) empty = at(code, column) == NoSymbol;
      if (empty && perKeycode_ > 0) spare.push_back(KeyCode(code));
    }
    return spare;
  }

  int perKeycode() const { return perKeycode_; }

private:
  KeySym at(int code, int column) const { return symbols_.get()[(code - minKeycode_) * perKeycode_ + column]; }

  int minKeycode_ = 8;
  int maxKeycode_ = 8;
  int perKeycode_ = 0;
  std::unique_ptr<KeySym, XFreeDeleter> symbols_;
};

void tapKey(Display* display, KeyCode keycode, KeyCode shift) {
  if (shift) XTestFakeKeyEvent(display, shift, True, CurrentTime);
  XTestFakeKeyEvent(display, keycode, True, CurrentTime);
  XTestFakeKeyEvent(display, keycode, False, CurrentTime);
  if (shift) XTestFakeKeyEvent(display, shift, False, CurrentTime);
}

} // namespace

UnicodeTyper::UnicodeTyper(Display* display, std::function<void(int)> pause)
    : display_(display), pause_(std::move(pause)) {}

void UnicodeTyper::type(std::u32string_view text) {
  const Keymap keymap(display_);
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  const std::vector<KeyCode> spare = keymap.spareKeycodes();
  size_t nextSpare = 0;
  std::map<KeySym, KeyCode> borrowed;
  std::vector<KeyCode> bound;

  auto unbind = [&] {
    XSync(display_, False);
    pause_(settleMs);
    XErrorTrap trap(display_);
    std::vector<KeySym> nothing(size_t(keymap.perKeycode()), NoSymbol);
    for (KeyCode keycode : bound) XChangeKeyboardMapping(display_, keycode, keymap.perKeycode(), nothing.data(), 1);
    bound.clear();
    borrowed.clear();
    nextSpare = 0;
  };

  for (size_t i = 0; i < text.size(); ++i) {
    // A Windows line break is one key press.
    if (text[i] == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') continue;
    KeySym keysym = keysymForCodePoint(text[i]);
    if (keysym == NoSymbol) continue;
    if (auto place = keymap.locate(keysym)) {
      tapKey(display_, place->keycode, place->shifted ? shift : KeyCode(0));
      continue;
    }
    auto known = borrowed.find(keysym);
    if (known == borrowed.end()) {
      if (spare.empty()) continue;
      // Out of spare keys: let the text so far arrive before rebinding them.
      if (nextSpare == spare.size()) unbind();
      KeyCode keycode = spare[nextSpare++];
      KeySym both[2] = {keysym, keysym};
      XErrorTrap trap(display_);
      XChangeKeyboardMapping(display_, keycode, 2, both, 1);
      if (trap.failed()) continue;
      bound.push_back(keycode);
      known = borrowed.emplace(keysym, keycode).first;
    }
    tapKey(display_, known->second, 0);
  }
  if (!bound.empty()) unbind();
  XFlush(display_);
}

} // namespace dravnok::x11
