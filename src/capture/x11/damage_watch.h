#pragma once
// Tells the capturer whether the screen may have changed since its last
// copy, and lets it sleep until it does, so that a still screen costs no
// copies and a change is picked up as soon as it is drawn.
#include <X11/Xlib.h>

namespace dravnok::capture::x11 {

class DamageWatch {
public:
  // Inactive when the server has no damage extension.
  DamageWatch(Display* display, Window root);
  ~DamageWatch();
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

  bool active() const { return damage != 0; }
  // Returns once something was drawn since the last takeChange(), or after
  // `timeoutMs`.
  void waitForChange(int timeoutMs);
  // Whether something was drawn since the last call (true the first time);
  // the next drawing is reported afresh.
  bool takeChange();

private:
  void readEvents();

  Display* display;
  unsigned long damage = 0;
  int eventBase = 0;
  bool changed = true;
};

} // namespace dravnok::capture::x11
