#include "input/x11/unicode_typer.h"

#include "input/x11/key_symbols.h"
#include "input/x11/x_error_trap.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <memory>
#include <optional>

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
    for (int column = 0; column < 2; ++column) {
      for (int code = minKeycode_; code <= maxKeycode_; ++code) {
        if (at(code, column) == keysym) return Place{KeyCode(code), column == 1};
      }
    }
    return std::nullopt;
  }

  // Keycodes that carry no symbol at all, free to borrow.
  std::vector<KeyCode> spareKeycodes() const {
    std::vector<KeyCode> spare;
    if (perKeycode_ == 0) return spare;
    for (int code = maxKeycode_; code >= minKeycode_; --code) {
      bool empty = true;
      for (int column = 0; column < perKeycode_ && empty; ++column) empty = at(code, column) == NoSymbol;
      if (empty) spare.push_back(KeyCode(code));
    }
    return spare;
  }

  KeySym at(int code, int column) const {
    if (code < minKeycode_ || code > maxKeycode_ || column >= perKeycode_) return NoSymbol;
    return symbols_.get()[(code - minKeycode_) * perKeycode_ + column];
  }

  int perKeycode() const { return perKeycode_; }

private:
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

UnicodeTyper::~UnicodeTyper() {
  if (bindings_.empty()) return;
  auto latest = std::max_element(bindings_.begin(), bindings_.end(),
                                 [](const Binding& a, const Binding& b) { return a.lastUse < b.lastUse; });
  waitUntilSettled(latest->lastUse);
  unbind(bindings_);
}

void UnicodeTyper::waitUntilSettled(Clock::time_point lastUse) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastUse + settle - Clock::now());
  if (left.count() > 0) {
    XSync(display_, False);
    pause_(int(left.count()));
  }
}

void UnicodeTyper::unbind(const std::vector<Binding>& bindings) {
  const Keymap keymap(display_);
  std::vector<KeySym> nothing(size_t(std::max(keymap.perKeycode(), 1)), NoSymbol);
  XErrorTrap trap(display_);
  for (const Binding& binding : bindings) {
    // A keyboard map loaded since then owns the key now; leave it alone.
    if (keymap.at(binding.keycode, 0) != binding.keysym) continue;
    XChangeKeyboardMapping(display_, binding.keycode, int(nothing.size()), nothing.data(), 1);
  }
}

void UnicodeTyper::releaseIdle() {
  if (bindings_.empty()) return;
  const auto now = Clock::now();
  std::vector<Binding> idleOnes;
  std::erase_if(bindings_, [&](const Binding& binding) {
    if (now - binding.lastUse < idle) return false;
    idleOnes.push_back(binding);
    return true;
  });
  if (!idleOnes.empty()) unbind(idleOnes);
}

void UnicodeTyper::type(std::u32string_view text) {
  releaseIdle();
  const Keymap keymap(display_);
  // Bindings that a newly loaded keyboard map replaced are gone already.
  std::erase_if(bindings_, [&](const Binding& b) { return keymap.at(b.keycode, 0) != b.keysym; });
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  std::vector<KeyCode> spare = keymap.spareKeycodes();

  // What each character needs, in order. The text goes out in runs: the
  // keys a run lacks are bound first, all together, and the map changes
  // have reached the server before the run's first key event.
  struct Stroke {
    KeySym keysym;
    KeyCode keycode;
    bool shifted;
  };
  std::vector<KeySym> keysyms;
  for (size_t i = 0; i < text.size(); ++i) {
    // A Windows line break is one key press.
    if (text[i] == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') continue;
    KeySym keysym = keysymForCodePoint(text[i]);
    if (keysym != NoSymbol) keysyms.push_back(keysym);
  }

  size_t next = 0;
  while (next < keysyms.size()) {
    std::vector<Stroke> run;
    std::vector<KeySym> boundInRun;
    bool changed = false;
    for (; next < keysyms.size(); ++next) {
      KeySym keysym = keysyms[next];
      auto bound =
          std::find_if(bindings_.begin(), bindings_.end(), [&](const Binding& b) { return b.keysym == keysym; });
      if (bound != bindings_.end()) {
        run.push_back({keysym, bound->keycode, false});
        boundInRun.push_back(keysym);
        continue;
      }
      if (auto place = keymap.locate(keysym)) {
        run.push_back({keysym, place->keycode, place->shifted});
        continue;
      }
      KeyCode keycode = 0;
      if (!spare.empty()) {
        keycode = spare.back();
        spare.pop_back();
      } else {
        // Out of spare keys: take back the one used longest ago, unless
        // this run still needs it; then the run ends here.
        auto oldest = bindings_.end();
        for (auto it = bindings_.begin(); it != bindings_.end(); ++it) {
          if (std::find(boundInRun.begin(), boundInRun.end(), it->keysym) != boundInRun.end()) continue;
          if (oldest == bindings_.end() || it->lastUse < oldest->lastUse) oldest = it;
        }
        if (oldest == bindings_.end()) {
          if (run.empty()) ++next; // no free keycode at all: the character is lost
          break;
        }
        waitUntilSettled(oldest->lastUse);
        keycode = oldest->keycode;
        bindings_.erase(oldest);
      }
      KeySym both[2] = {keysym, keysym};
      XErrorTrap trap(display_);
      XChangeKeyboardMapping(display_, keycode, 2, both, 1);
      if (trap.failed()) continue;
      changed = true;
      bindings_.push_back({keysym, keycode, Clock::now()});
      run.push_back({keysym, keycode, false});
      boundInRun.push_back(keysym);
    }
    if (changed) {
      XSync(display_, False);
      pause_(bindLeadMs);
    }
    for (const Stroke& stroke : run) tapKey(display_, stroke.keycode, stroke.shifted ? shift : KeyCode(0));
    const auto now = Clock::now();
    for (Binding& binding : bindings_) {
      if (std::find(boundInRun.begin(), boundInRun.end(), binding.keysym) != boundInRun.end()) binding.lastUse = now;
    }
  }
  XFlush(display_);
}

} // namespace dravnok::x11
