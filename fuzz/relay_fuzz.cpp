// fuzz-deps: dravnok::relay-program
// fuzz-max-len: 1100000
// The pipe as the relay reads it: the first byte sets the size of every
// read, the rest is the stream. Lines come out without line feeds and never
// longer than what was pending plus one read, an unfinished line never
// stays beyond the limit, and no line makes the relay crash or put the
// pointer off its display.
#include "desktop_backend.h"
#include "relay-program/relay_lines.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

using namespace dravnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t readSize = (static_cast<size_t>(data[0]) + 1) * (relay_program::kReadSize / 256);
  std::span<const char> stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  InputInjector injector(std::make_unique<fuzzing::DesktopBackend>(VirtualDesktop{0, 0, 1920, 1080}), false, 1920, 1080,
                         0, 0, 0);
  relay_program::LineAccumulator lines;
  while (!stream.empty()) {
    const std::span<const char> piece = stream.first(std::min(readSize, stream.size()));
    stream = stream.subspan(piece.size());
    const size_t longest = lines.pendingBytes() + piece.size();
    lines.append(piece, [&](std::string_view line) {
      if (line.empty() || line.size() > longest || line.find('\n') != std::string_view::npos) std::abort();
      relay_program::handleRelayLine(injector, line);
    });
    if (lines.pendingBytes() > relay_program::kMaxPendingLine) std::abort();
  }
  return 0;
}
