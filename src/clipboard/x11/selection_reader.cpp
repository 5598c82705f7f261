#include "clipboard/x11/selection_reader.h"

#include <X11/Xatom.h>
#include <algorithm>
#include <chrono>
#include <memory>

namespace dravnok::clipboard {
namespace {

// An owner that does not answer within this time is given up on, like a
// clipboard that another program keeps open.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(1000);

} // namespace

SelectionReader::SelectionReader(size_t maxBytes) : maxBytes_(maxBytes), display_(openDisplay()) {
  if (!display_) return;
  Display* d = display_.get();
  clipboard_ = XInternAtom(d, "CLIPBOARD", False);
  property_ = XInternAtom(d, "DRAVNOK_CLIPBOARD_READ", False);
  incr_ = XInternAtom(d, "INCR", False);
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                          CWEventMask, &attributes);
}

SelectionReader::~SelectionReader() {
  if (display_ && window_) XDestroyWindow(display_.get(), window_);
}

bool SelectionReader::waitFor(int type, XEvent& event) {
  Display* d = display_.get();
  const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
  for (;;) {
    while (XPending(d) > 0) {
      XNextEvent(d, &event);
      if (event.type != type || event.xany.window != window_) continue;
      if (type == PropertyNotify && (event.xproperty.atom != property_ || event.xproperty.state != PropertyNewValue)) {
        continue;
      }
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    waitForDisplay(d, -1, static_cast<int>(left.count()));
  }
}

std::optional<std::string> SelectionReader::takeProperty(Atom& type) {
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  // One 32-bit unit more than allowed shows a property that is too large.
  const long units = static_cast<long>(maxBytes_ / 4 + 1);
  if (XGetWindowProperty(display_.get(), window_, property_, 0, units, True, AnyPropertyType, &type, &format, &items,
                         &after, &data) != Success) {
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
  std::string bytes;
  if (data) {
    // Xlib hands 32-bit items over as longs.
    size_t unit = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
    if (after > 0 || items > maxBytes_ / unit) return std::nullopt;
    bytes.assign(reinterpret_cast<const char*>(data), items * unit);
  }
  return bytes;
}

bool SelectionReader::offers(const char* target) {
  if (!usable()) return false;
  if (!targetsKnown_) {
    targetsKnown_ = true;
    if (auto list = read("TARGETS"); list && !list->empty()) {
      const auto* atoms = reinterpret_cast<const Atom*>(list->data());
      targets_.emplace(atoms, atoms + list->size() / sizeof(Atom));
    }
  }
  if (!targets_) return true;
  Atom wanted = XInternAtom(display_.get(), target, False);
  return std::find(targets_->begin(), targets_->end(), wanted) != targets_->end();
}

std::optional<std::string> SelectionReader::read(const char* target) {
  if (!usable()) return std::nullopt;
  Display* d = display_.get();
  const Atom wanted = XInternAtom(d, target, False);
  XConvertSelection(d, clipboard_, wanted, property_, window_, CurrentTime);
  XFlush(d);
  XEvent event;
  do {
    if (!waitFor(SelectionNotify, event)) return std::nullopt;
  } while (event.xselection.target != wanted); // a late answer to an earlier request
  if (event.xselection.property == None) return std::nullopt;
  Atom type = None;
  auto bytes = takeProperty(type);
  if (!bytes || type != incr_) return bytes;
  // Increments: each new value of the property is the next piece, an empty
  // one ends the transfer. Deleting a piece asks for the next.
  std::string whole;
  for (;;) {
    if (!waitFor(PropertyNotify, event)) return std::nullopt;
    auto piece = takeProperty(type);
    if (!piece) return std::nullopt;
    if (piece->empty()) return whole;
    if (piece->size() > maxBytes_ - whole.size()) return std::nullopt;
    whole += *piece;
  }
}

} // namespace dravnok::clipboard
