#include "capture/encode_size.h"

#include <algorithm>

namespace dravnok::capture {
namespace {

int32_t evenAtLeastTwo(int64_t value) { return static_cast<int32_t>(std::max<int64_t>(value & ~int64_t{1}, 2)); }

} // namespace

EncodeSize computeEncodeSize(int32_t width, int32_t height, uint32_t maxDimension) {
  EncodeSize size{evenAtLeastTwo(width), evenAtLeastTwo(height)};
  const int32_t larger = std::max(width, height);
  if (maxDimension > 0 && larger > 0 && static_cast<uint32_t>(larger) > maxDimension) {
    const double scale = static_cast<double>(maxDimension) / larger;
    size.width = evenAtLeastTwo(static_cast<int64_t>(width * scale));
    size.height = evenAtLeastTwo(static_cast<int64_t>(height * scale));
  }
  return size;
}

} // namespace dravnok::capture
