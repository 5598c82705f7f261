#include "capture/x11/damage_watch.h"

#include <X11/extensions/Xdamage.h>

#include <poll.h>

namespace dravnok::capture::x11 {

DamageWatch::DamageWatch(Display* display, Window root) : display(display) {
  int errorBase = 0, major = 1, minor = 1;
  if (!XDamageQueryExtension(display, &eventBase, &errorBase) || !XDamageQueryVersion(display, &major, &minor)) return;
  // One event when the damage goes from empty to non-empty: cheap however
  // much is drawn, and re-armed by takeChange().
  damage = XDamageCreate(display, root, XDamageReportNonEmpty);
  XFlush(display);
}

DamageWatch::~DamageWatch() {
  if (damage) XDamageDestroy(display, damage);
}

void DamageWatch::readEvents() {
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == eventBase + XDamageNotify) changed = true;
  }
}

void DamageWatch::waitForChange(int timeoutMs) {
  if (!damage) return;
  readEvents();
  if (changed || timeoutMs <= 0) return;
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) > 0) readEvents();
}

bool DamageWatch::takeChange() {
  if (!damage) return true;
  readEvents();
  if (!changed) return false;
  changed = false;
  // Cleared, and the server done with it, before the copy is requested:
  // whatever is drawn from here on reports again, so no change falls
  // between two copies.
  XDamageSubtract(display, damage, None, None);
  XSync(display, False);
  return true;
}

} // namespace dravnok::capture::x11
