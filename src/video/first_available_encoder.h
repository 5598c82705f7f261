#pragma once
// The first of several encoders that opens: the platform's own, then a
// software one that every machine can run.
#include "video/encoder_backend.h"

#include <functional>
#include <memory>
#include <vector>

namespace dravnok::video {

using EncoderFactory = std::function<std::unique_ptr<EncoderBackend>()>;

class FirstAvailableEncoder final : public EncoderBackend {
public:
  explicit FirstAvailableEncoder(std::vector<EncoderFactory> candidates) : candidates(std::move(candidates)) {}

  // Tries each candidate in order; `error` then names every failure.
  bool open(const EncoderConfig& config, int32_t bitrate, int32_t quality, bool& hardware, std::string& error) override;
  std::string describeSettings() override { return chosen ? chosen->describeSettings() : std::string(); }
  const char* name() const override { return chosen ? chosen->name() : "none"; }
  bool setQuality(int32_t quality) override { return chosen && chosen->setQuality(quality); }
  bool encode(const uint8_t* nv12, int64_t timestamp, bool forceKeyFrame, const EncodedOutput& output) override {
    return chosen && chosen->encode(nv12, timestamp, forceKeyFrame, output);
  }
  void flush(const EncodedOutput& output) override {
    if (chosen) chosen->flush(output);
  }
  void setFrameRate(int32_t fps) override {
    if (chosen) chosen->setFrameRate(fps);
  }
  uint8_t* lendPicture() override { return chosen ? chosen->lendPicture() : nullptr; }
  bool asynchronous() const override { return chosen && chosen->asynchronous(); }
  void beginStreaming(TimedOutput output) override {
    if (chosen) chosen->beginStreaming(std::move(output));
  }
  bool encodeSingle(const uint8_t* nv12, const EncodedOutput& output, std::string& error) override;

private:
  std::vector<EncoderFactory> candidates;
  std::unique_ptr<EncoderBackend> chosen;
};

} // namespace dravnok::video
