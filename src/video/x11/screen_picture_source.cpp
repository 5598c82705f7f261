#include "video/screen_picture_source.h"

#include "capture/screen_capturer.h"
#include "video/conversion_settings.h"
#include "video/nv12_converter.h"

namespace dravnok::video {

namespace {

class ScreenPictureSource final : public PictureSource {
public:
  ScreenPictureSource(capture::ScreenCapturer& capturer, int32_t width, int32_t height)
      : capturer(capturer), converter(readConversionSettings(), width, height) {}

  bool acquire(int timeoutMs) override {
    capturer.acquireFrame(frame, timeoutMs);
    return frame.valid && frame.pixels;
  }
  bool convert(uint8_t* nv12) override {
    if (!frame.valid || !frame.pixels) return false;
    converter.convert(frame.pixels, static_cast<int32_t>(frame.pitch), frame.width, frame.height, nv12);
    return true;
  }
  void release() override {
    capturer.releaseFrame();
    frame = {};
  }
  void requestFreshFrame() override { capturer.setNeedFreshFrame(); }
  bool screenCopyMode() const override { return capturer.gdiMode(); }
  bool legacyConverter() const override { return converter.legacy(); }
  int converterThreads() const override { return converter.threads(); }

private:
  capture::ScreenCapturer& capturer;
  Nv12Converter converter;
  capture::CapturedFrame frame;
};

} // namespace

std::unique_ptr<PictureSource> makeScreenPictureSource(capture::ScreenCapturer& capturer, int32_t encodeWidth,
                                                       int32_t encodeHeight) {
  return std::make_unique<ScreenPictureSource>(capturer, encodeWidth, encodeHeight);
}

void prepareCapturerForStreaming(capture::ScreenCapturer& capturer) {
  capturer.setUploadGdiFrames(false);
  capturer.setSkipUnchangedGdiFrames(true);
}

} // namespace dravnok::video
