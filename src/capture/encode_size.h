#pragma once
// The size frames are encoded at: the capture scaled to at most
// `maxDimension` on its long side, each side even and at least 2.
#include <cstdint>

namespace dravnok::capture {

struct EncodeSize {
  int32_t width = 0;
  int32_t height = 0;
  friend bool operator==(const EncodeSize&, const EncodeSize&) = default;
};

// `maxDimension` 0 means no limit.
EncodeSize computeEncodeSize(int32_t width, int32_t height, uint32_t maxDimension);

} // namespace dravnok::capture
