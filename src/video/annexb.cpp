#include "video/annexb.h"

namespace dravnok::video {

namespace {
// Index of the first byte after the next 00 00 01 at or after `from`, or
// size when there is none.
size_t nextUnit(std::span<const uint8_t> s, size_t from) {
  for (size_t i = from; i + 3 <= s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) return i + 3;
  return s.size();
}
} // namespace

void appendWithLongStartCodes(std::span<const uint8_t> stream, std::vector<uint8_t>& out) {
  static constexpr uint8_t startCode[] = {0, 0, 0, 1};
  size_t begin = nextUnit(stream, 0);
  while (begin < stream.size()) {
    const size_t next = nextUnit(stream, begin);
    size_t end = next == stream.size() ? next : next - 3;
    // Zero bytes before a start code belong to it (trailing_zero_8bits).
    while (end > begin && stream[end - 1] == 0) --end;
    if (end > begin) {
      out.insert(out.end(), std::begin(startCode), std::end(startCode));
      out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(begin),
                 stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
    begin = next;
  }
}

} // namespace dravnok::video
