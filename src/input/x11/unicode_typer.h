#pragma once
// Types Unicode characters with XTest. Characters the keyboard map has on a
// key's first two levels are typed on that key (with Shift for the second);
// the others are bound for a moment to spare keycodes, and the spare keys
// are unbound again afterwards.
#include <X11/Xlib.h>

#include <functional>
#include <string_view>

namespace dravnok::x11 {

class UnicodeTyper {
public:
  // `pause` waits the given milliseconds.
  UnicodeTyper(Display* display, std::function<void(int)> pause);
  void type(std::u32string_view text);

  // How long a temporary binding stays after its key was typed: clients read
  // the keyboard map only when they handle the key event, and must still
  // find the binding then.
  static constexpr int settleMs = 100;

private:
  Display* display_;
  std::function<void(int)> pause_;
};

} // namespace dravnok::x11
