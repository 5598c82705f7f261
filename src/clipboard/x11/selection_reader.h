#pragma once
// Reads the CLIPBOARD selection from whichever client owns it, on a
// connection of its own, including transfers in increments (INCR).
#include "clipboard/clipboard_limits.h"
#include "clipboard/x11/x_display.h"

#include <optional>
#include <string>
#include <vector>

namespace dravnok::clipboard {

class SelectionReader {
public:
  // A transfer, in increments or not, that would exceed `maxBytes` is
  // given up on.
  explicit SelectionReader(size_t maxBytes = kMaxClipboardBytes);
  ~SelectionReader();
  SelectionReader(const SelectionReader&) = delete;
  SelectionReader& operator=(const SelectionReader&) = delete;

  bool usable() const { return window_ != 0; }
  // The selection converted to `target` (an atom name); nothing when there
  // is no owner, the owner refuses, stops answering or sends too much.
  std::optional<std::string> read(const char* target);
  // Whether the owner offers `target`: asks for TARGETS once; an owner that
  // does not answer that is asked for everything directly.
  bool offers(const char* target);

private:
  bool waitFor(int type, XEvent& event);
  std::optional<std::string> takeProperty(Atom& type);

  size_t maxBytes_;
  DisplayConnection display_;
  Window window_ = 0;
  Atom clipboard_ = 0;
  Atom property_ = 0;
  Atom incr_ = 0;
  bool targetsKnown_ = false;
  std::optional<std::vector<Atom>> targets_;
};

} // namespace dravnok::clipboard
