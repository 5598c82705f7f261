#pragma once
// The reference BGRA to NV12 conversion: one thread, double arithmetic.
#include <cstddef>
#include <cstdint>

namespace dravnok::video {

// Luma plane of W x H bytes followed by the interleaved chroma plane of
// W x H/2 bytes.
inline size_t nv12Size(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height + height / 2);
}

// Makes an output dimension even and at least 2.
inline int evenAtLeastTwo(int value) { return (value & ~1) > 2 ? (value & ~1) : 2; }

// Scales by nearest neighbour to destWidth x destHeight (made even and at
// least 2 here) and converts with BT.709 limited-range coefficients.
void convertLegacy(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight, int destWidth,
                   int destHeight, uint8_t* dest);

} // namespace dravnok::video
