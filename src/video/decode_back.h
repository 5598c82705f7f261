#pragma once
// Decodes one H.264 access unit back to a picture, for the encode
// self-test's verdict.
#include <cstdint>
#include <span>
#include <string>

namespace dravnok::video {

struct DecodedPicture {
  int width = 0;
  int height = 0;
  // Mean of the luma plane; -1 when nothing was decoded.
  double lumaMean = -1.0;
};

// False with `error` when decoding is not available or failed.
bool decodeBack(std::span<const uint8_t> accessUnit, int width, int height, DecodedPicture& out, std::string& error);

// The same with OpenH264's decoder, for systems whose own gives no picture.
bool decodeBackWithOpenH264(std::span<const uint8_t> accessUnit, DecodedPicture& out, std::string& error);

} // namespace dravnok::video
