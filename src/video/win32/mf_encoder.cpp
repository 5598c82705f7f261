// The Media Foundation encoder is not wired up yet: initialisation fails the
// way it does on machines without any H.264 encoder transform.
#include "video/encoder_backend.h"

namespace dravnok::video {

namespace {
class UnavailableEncoder final : public EncoderBackend {
public:
  bool open(const EncoderConfig&, int32_t, int32_t, bool& hardware, std::string& error) override {
    hardware = false;
    error = "no H.264 encoder MFT available (neither software nor hardware)";
    return false;
  }
  std::string describeSettings() override { return "no-codecapi"; }
  bool setQuality(int32_t) override { return false; }
  bool encode(const uint8_t*, int64_t, bool, const EncodedOutput&) override { return false; }
  void flush(const EncodedOutput&) override {}
};
} // namespace

std::unique_ptr<EncoderBackend> makeEncoderBackend() { return std::make_unique<UnavailableEncoder>(); }

} // namespace dravnok::video
