#include "video/first_available_encoder.h"

namespace dravnok::video {

bool FirstAvailableEncoder::open(const EncoderConfig& config, int32_t bitrate, int32_t quality, bool& hardware,
                                 std::string& error) {
  chosen.reset();
  hardware = false;
  std::string failures;
  for (const EncoderFactory& make : candidates) {
    std::unique_ptr<EncoderBackend> candidate = make();
    if (!candidate) continue;
    std::string why;
    if (candidate->open(config, bitrate, quality, hardware, why)) {
      chosen = std::move(candidate);
      return true;
    }
    hardware = false;
    failures += (failures.empty() ? "" : "; ") + std::string(candidate->name()) + ": " + why;
  }
  error = failures.empty() ? "no H.264 encoder available" : failures;
  return false;
}

bool FirstAvailableEncoder::encodeSingle(const uint8_t* nv12, const EncodedOutput& output, std::string& error) {
  if (!chosen) {
    error = "encodeOneForTest: encoder not initialised";
    return false;
  }
  return chosen->encodeSingle(nv12, output, error);
}

} // namespace dravnok::video
