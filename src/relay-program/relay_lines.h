#pragma once
// The relay's reading side of the pipe: lines of JSON, one message each.
#include "input/input_injector.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace dravnok::relay_program {

// The largest piece read from the pipe at once.
inline constexpr size_t kReadSize = 4096;
// An unfinished line beyond this is dropped.
inline constexpr size_t kMaxPendingLine = 1048576;

// Splits the byte stream at line feeds. Empty lines are skipped.
class LineAccumulator {
public:
  using LineFn = std::function<void(std::string_view line)>;

  void append(std::span<const char> bytes, const LineFn& onLine);
  size_t pendingBytes() const { return pending_.size(); }

private:
  std::string pending_;
  // Set after an overlong line was dropped: the rest of it, up to its line
  // feed, is only a fragment and must not be taken for a message.
  bool skipping_ = false;
};

// One message from the host: the display geometry, or an input event for
// the dispatcher. Anything else, or text that does not parse, is ignored.
void handleRelayLine(InputInjector& injector, std::string_view line);

} // namespace dravnok::relay_program
