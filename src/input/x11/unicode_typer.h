#pragma once
// Types Unicode characters with XTest. Characters the keyboard map has on a
// key's first two levels are typed on that key (with Shift for the second);
// the others are bound to spare keycodes, which are unbound again once they
// have been idle for a while, when a spare is needed for another character,
// or when the typer goes away.
#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

namespace dravnok::x11 {

class UnicodeTyper {
public:
  // `pause` waits the given milliseconds.
  UnicodeTyper(Display* display, std::function<void(int)> pause);
  ~UnicodeTyper();
  UnicodeTyper(const UnicodeTyper&) = delete;
  UnicodeTyper& operator=(const UnicodeTyper&) = delete;

  void type(std::u32string_view text);
  // Unbinds what has not been typed for a while; cheap when nothing is bound.
  void releaseIdle();

  // Clients read the keyboard map when they handle a key event, which may be
  // well after it was sent: a binding stays at least this long after its
  // last use before it is changed.
  static constexpr std::chrono::milliseconds settle{250};
  static constexpr std::chrono::milliseconds idle{2000};
  // Between new bindings and the first key typed on them, so that clients
  // take in the changed map before the key events arrive.
  static constexpr int bindLeadMs = 20;

private:
  using Clock = std::chrono::steady_clock;
  struct Binding {
    KeySym keysym;
    KeyCode keycode;
    Clock::time_point lastUse;
  };

  void waitUntilSettled(Clock::time_point lastUse);
  void unbind(const std::vector<Binding>& bindings);

  Display* display_;
  std::function<void(int)> pause_;
  std::vector<Binding> bindings_;
};

} // namespace dravnok::x11
