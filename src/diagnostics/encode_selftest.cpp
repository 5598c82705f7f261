#include "capture/screen_capturer.h"
#include "diagnostics/encode_verdict.h"
#include "diagnostics/modes.h"
#include "video/decode_back.h"
#include "video/h264_encoder.h"
#include "video/screen_picture_source.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace dravnok::diagnostics {

int runEncodeSelfTest() {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) {
    std::fprintf(stderr, "selftest-encode: capture init FAILED: %s\n", error.c_str());
    return 2;
  }
  std::fprintf(stderr, "selftest-encode: capture %dx%d, encode %dx%d (live scale)\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight);
  video::H264Encoder encoder;
  // The picture source converts at the encoder's (even) size.
  const int32_t width = video::evenEncodeDimension(capturer.encodeWidth);
  const int32_t height = video::evenEncodeDimension(capturer.encodeHeight);
  auto source = video::makeScreenPictureSource(capturer, width, height);
  bool acquired = false;
  for (int attempt = 0; attempt < 80 && !acquired; ++attempt) {
    source->release();
    acquired = source->acquire(250);
    if (!acquired) std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  if (!acquired) {
    std::fprintf(stderr, "selftest-encode: no frame acquired\n");
    return 3;
  }
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error)) {
    std::fprintf(stderr, "selftest-encode: encoder init FAILED: %s\n", error.c_str());
    return 4;
  }
  std::fprintf(stderr, "selftest-encode: H.264 encoder = %s\n", hardware ? "HARDWARE" : "software");
  std::vector<uint8_t> bytes;
  bool keyFrame = false;
  double luma = 0;
  const bool encoded = encoder.encodeOneForTest(*source, bytes, keyFrame, luma, error);
  source->release();
  if (!encoded) {
    std::fprintf(stderr, "selftest-encode: encode FAILED: %s\n", error.c_str());
    return 5;
  }
  std::fprintf(stderr, "selftest-encode: NV12 luma avg = %.1f/255, encoded %zu bytes, IDR=%d\n", luma, bytes.size(),
               keyFrame ? 1 : 0);
  video::DecodedPicture decoded;
  bool real = lumaShowsImage(luma);
  if (video::decodeBack(bytes, width, height, decoded, error)) {
    const bool decodedReal = lumaShowsImage(decoded.lumaMean);
    std::fprintf(stderr, "selftest-encode: DECODED %dx%d brightness = %.1f/255  (%s)\n", decoded.width, decoded.height,
                 decoded.lumaMean, decodedReal ? "REAL IMAGE - encode path works" : "BLACK - encode path broken");
    real = real && decodedReal;
  } else {
    std::fprintf(stderr, "selftest-encode: decode-back unavailable: %s\n", error.c_str());
  }
  if (!real) {
    std::fprintf(stderr, "selftest-encode: FAIL - the encoded video is black\n");
    return 10;
  }
  std::fprintf(stderr, "selftest-encode: PASS - the encoded video is a real image\n");
  return 0;
}

} // namespace dravnok::diagnostics
