#include "video/screen_picture_source.h"

#include "capture/screen_capturer.h"
#include "video/conversion_settings.h"
#include "video/nv12_converter.h"
#include "video/win32/staging_read_back.h"

namespace dravnok::video {

namespace {

// Duplicated desktops arrive as textures at the monitor's size and are read
// back through a staging texture; screen copies arrive as CPU rows.
class ScreenPictureSource final : public PictureSource {
public:
  ScreenPictureSource(capture::ScreenCapturer& capturer, int32_t width, int32_t height)
      : capturer(capturer), converter(readConversionSettings(), width, height) {}

  bool acquire(int timeoutMs) override {
    capturer.acquireFrame(frame, timeoutMs);
    return frame.valid && (frame.pixels || frame.texture);
  }
  bool convert(uint8_t* nv12) override {
    if (!frame.valid) return false;
    if (frame.pixels) {
      converter.convert(frame.pixels, static_cast<int32_t>(frame.pitch), frame.width, frame.height, nv12);
      return true;
    }
    if (!frame.texture || !capturer.device || !capturer.context) return false;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    D3D11_TEXTURE2D_DESC desc{};
    std::string error;
    if (!readBack.map(capturer, frame.texture.Get(), mapped, desc, error)) return false;
    converter.convert(static_cast<const uint8_t*>(mapped.pData), static_cast<int32_t>(mapped.RowPitch), desc.Width,
                      desc.Height, nv12);
    readBack.unmap(capturer);
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
  StagingReadBack readBack;
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
