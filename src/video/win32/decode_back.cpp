#include "video/decode_back.h"

namespace dravnok::video {

// Only reached after a successful encode, which this platform cannot do yet.
bool decodeBack(std::span<const uint8_t>, int, int, DecodedPicture& out, std::string& error) {
  out = {};
  error = "CoCreateInstance(H264 decoder MFT) failed";
  return false;
}

} // namespace dravnok::video
