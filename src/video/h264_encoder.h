#pragma once
// One session's H.264 encoder: the platform encoder, its start bitrate and
// the encode loop that feeds it.
#include "video/encode_loop.h"
#include "video/encoder_backend.h"
#include "video/encoder_config.h"
#include "video/loop_clock.h"
#include "video/picture_source.h"
#include "video/rate_source.h"

#include <memory>
#include <string>
#include <vector>

namespace dravnok::capture {
class ScreenCapturer;
}

namespace dravnok::video {

class H264Encoder {
public:
  H264Encoder();
  // For tests: a given backend and clock.
  H264Encoder(std::unique_ptr<EncoderBackend> backend, std::unique_ptr<LoopClock> clock);
  ~H264Encoder();
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  bool init(const EncoderConfig& config, bool& hardware, std::string& error);
  std::string describeSettings();
  int32_t bitrate() const { return startBitrateBps; }
  int32_t encodeWidth() const { return width; }
  int32_t encodeHeight() const { return height; }

  void setFrameSink(FrameSink sink);
  template <class Controller> void setRateController(std::shared_ptr<Controller> controller) {
    setRateSource(std::make_shared<ControllerRateSource<Controller>>(std::move(controller)));
  }
  void setRateSource(std::shared_ptr<RateSource> source);

  // Starts the loop thread; it produces nothing until trackOpened().
  // False when this platform's capturer cannot feed the encoder.
  bool start(capture::ScreenCapturer& capturer);
  bool start(PictureSource& source);
  void stop();
  // The viewer can now receive video: an urgent key frame follows.
  void trackOpened();
  void requestKeyframe(bool urgent = false);
  std::string statisticsText();

  // One complete encode of the picture `source` holds, as an IDR; ends the
  // encoder's stream.
  bool encodeOneForTest(PictureSource& source, std::vector<uint8_t>& bytes, bool& keyFrame, double& lumaAverage,
                        std::string& error);

  // The clock that stamps the pictures this encoder's access units carry.
  LoopClock& loopClock() { return *clock; }

  EncoderBackend* backendForTest() { return backend.get(); }

private:
  std::unique_ptr<EncoderBackend> backend;
  std::unique_ptr<LoopClock> clock;
  std::unique_ptr<EncodeLoop> loop;
  std::unique_ptr<PictureSource> screenSource;
  std::shared_ptr<RateSource> rate;
  FrameSink sink;
  int32_t width = 0, height = 0, fps = 30;
  int32_t startBitrateBps = 0;
};

} // namespace dravnok::video
