#pragma once
// Captured frame -> Media Foundation sample with one NV12 picture at the
// encode size: texture read-back through a staging texture, conversion,
// sample time and duration. The encoder owns one of these.
#include "capture/screen_capturer.h"
#include "video/nv12_converter.h"
#include "video/sample_clock.h"

#include <mfapi.h>
#include <mfidl.h>

#include <string>

namespace dravnok::video {

using capture::ComPtr;

class Nv12SampleConverter {
public:
  explicit Nv12SampleConverter(Nv12Converter& converter);

  // `frameRate` is the encode loop's current frame rate (sample duration).
  bool convertFrameToNv12Sample(capture::ScreenCapturer* capturer, const capture::CapturedFrame& frame, int frameRate,
                                ComPtr<IMFSample>& sample, std::string& error);

  // The buffer of the latest picture, for re-encoding without a capture.
  IMFMediaBuffer* lastNv12Buffer() const { return lastBuffer.Get(); }

  // Copies `texture` into the staging texture and maps it; unmapStaging()
  // releases the mapping.
  bool mapStaging(capture::ScreenCapturer& capturer, ID3D11Texture2D* texture, D3D11_MAPPED_SUBRESOURCE& mapped,
                  D3D11_TEXTURE2D_DESC& desc, std::string& error);
  void unmapStaging(capture::ScreenCapturer& capturer);

  int64_t sampleTime(int64_t counter, int frameRate) { return clock.sampleTime(counter, frameRate); }

private:
  Nv12Converter& converter;
  SampleClock clock;
  ComPtr<ID3D11Texture2D> stagingTexture;
  uint32_t stagingWidth = 0, stagingHeight = 0;
  bool stagingMapped = false;
  ComPtr<IMFMediaBuffer> lastBuffer;
};

} // namespace dravnok::video
