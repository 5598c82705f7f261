#include "capture/frame_brightness.h"
#include "capture/screen_capturer.h"
#include "diagnostics/bitmap_file.h"
#include "diagnostics/frame_attempts.h"
#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

using capture::ComPtr;

int runCaptureSelfTest(const std::string& bitmapPath) {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(0, error)) {
    std::fprintf(stderr, "selftest: capture init FAILED: %s\n", error.c_str());
    return 2;
  }
  std::fprintf(stderr, "selftest: capture %dx%d (origin %d,%d)\n", capturer.width, capturer.height, capturer.left,
               capturer.top);
  capture::CapturedFrame frame;
  if (!acquireForTest(capturer, frame, 250, [](const capture::CapturedFrame& f) { return f.texture != nullptr; })) {
    std::fprintf(stderr, "selftest: no frame acquired\n");
    return 3;
  }
  D3D11_TEXTURE2D_DESC desc{};
  frame.texture->GetDesc(&desc);
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  desc.MiscFlags = 0;
  ComPtr<ID3D11Texture2D> staging;
  if (FAILED(capturer.device->CreateTexture2D(&desc, nullptr, &staging))) {
    std::fprintf(stderr, "selftest: staging create FAILED\n");
    capturer.releaseFrame();
    return 4;
  }
  capturer.context->CopyResource(staging.Get(), frame.texture.Get());
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (FAILED(capturer.context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) {
    std::fprintf(stderr, "selftest: map FAILED\n");
    capturer.releaseFrame();
    return 5;
  }
  const auto* pixels = static_cast<const uint8_t*>(mapped.pData);
  const double brightness = capture::meanBrightness(pixels, mapped.RowPitch, desc.Width, desc.Height, 4);
  const bool real = brightness >= capture::kBlackThreshold;
  std::fprintf(stderr, "selftest: average brightness = %.1f / 255  (%s)\n", brightness,
               real ? "REAL IMAGE - capture works" : "BLACK - capture still broken");
  if (writeBitmap24(bitmapPath, pixels, mapped.RowPitch, desc.Width, desc.Height)) {
    std::fprintf(stderr, "selftest: wrote %s (%ux%u)\n", bitmapPath.c_str(), desc.Width, desc.Height);
  }
  capturer.context->Unmap(staging.Get(), 0);
  capturer.releaseFrame();
  return real ? 0 : 10;
}

} // namespace dravnok::diagnostics
