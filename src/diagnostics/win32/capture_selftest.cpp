#include "capture/screen_capturer.h"
#include "diagnostics/frame_attempts.h"
#include "diagnostics/modes.h"
#include "diagnostics/selftest_picture.h"

#include <cstdio>

namespace dravnok::diagnostics {

using capture::ComPtr;

int runCaptureSelfTest(const std::string& bitmapPath) {
  capture::ScreenCapturer capturer;
  if (!initForSelfTest(capturer)) return 2;
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
  const int code = reportSelfTestPicture(pixels, mapped.RowPitch, desc.Width, desc.Height, bitmapPath);
  capturer.context->Unmap(staging.Get(), 0);
  capturer.releaseFrame();
  return code;
}

} // namespace dravnok::diagnostics
