#pragma once
// Screen capture on Windows: DXGI Desktop Duplication of one output on the
// capturer's Direct3D 11 device, with GDI screen copies as the fall-back.
#include "capture/acquisition.h"
#include "capture/monitor_info.h"

#include <d3d11.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dravnok::capture {

using Microsoft::WRL::ComPtr;

// One captured image. Invalid (the default) means nothing new this time.
struct CapturedFrame {
  // Duplication: the desktop image at the monitor's size. GDI: the upload
  // texture when uploading is on, else null.
  ComPtr<ID3D11Texture2D> texture;
  // Performance-counter ticks.
  int64_t timestamp = 0;
  bool valid = false;
  // GDI only: top-down BGRA rows at the encode size, valid until the next
  // capture.
  const uint8_t* pixels = nullptr;
  uint32_t pitch = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

int64_t timestampFrequency();

class ScreenCapturer final : public AcquiringCapturer<CapturedFrame> {
public:
  ScreenCapturer() = default;
  ~ScreenCapturer() override;
  ScreenCapturer(const ScreenCapturer&) = delete;
  ScreenCapturer& operator=(const ScreenCapturer&) = delete;

  // Lists the monitors, makes the device, chooses Desktop Duplication or GDI
  // and fixes the encode size. `maxDimension` 0 keeps the monitor's size.
  bool init(uint32_t maxDimension, std::string& error);
  void acquireFrame(CapturedFrame& out, int timeoutMs);
  void setUploadGdiFrames(bool upload) { uploadGdiFrames = upload; }
  // How the screen is read, for the log.
  std::string captureMethod() const { return gdiMode() ? "GDI" : "Desktop Duplication"; }

  bool createDevice(std::string& error);
  bool openPrimaryDuplication(std::string& error);
  bool openDuplicationForMonitor(std::string& error);
  // The black-frame test on a desktop texture.
  bool isMostlyBlack(ID3D11Texture2D* texture);
  bool captureGdi(CapturedFrame& out, bool skipUnchanged);

  ComPtr<ID3D11Device> device;
  ComPtr<ID3D11DeviceContext> context;
  ComPtr<IDXGIOutputDuplication> duplication;
  ComPtr<IDXGIOutput1> output;
  ComPtr<ID3D11Texture2D> uploadTexture;
  int32_t width = 0, height = 0, left = 0, top = 0;
  int32_t encodeWidth = 0, encodeHeight = 0;

private:
  uint64_t tickCount() override { return GetTickCount64(); }
  bool duplicationOpen() const override { return duplication != nullptr; }
  bool openDuplicationForMonitor() override;
  void releaseDuplication() override { duplication.Reset(); }
  DuplicatedFrame acquireNextFrame(int timeoutMs) override;
  void releaseHeldFrame() override;
  bool takeHeldImage() override;
  bool heldImageIsBlack() override { return isMostlyBlack(heldTexture.Get()); }
  void deliverHeldImage(CapturedFrame& out) override;
  bool captureScreenCopy(CapturedFrame& out, bool skipUnchanged) override { return captureGdi(out, skipUnchanged); }
  void setCaptureRectangle(const MonitorInfo& monitor) override;

  void computeEncodeSize();
  void releaseGdiObjects();

  uint32_t maxDimension = 0;
  bool encodeSizeFixed = false;
  bool uploadGdiFrames = true;
  // The frame between AcquireNextFrame and ReleaseFrame.
  ComPtr<IDXGIResource> heldResource;
  ComPtr<ID3D11Texture2D> heldTexture;
  int64_t heldPresentTime = 0;
  // GDI objects, made on the first copy and remade when the size changes.
  HDC memoryDc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ previousObject = nullptr;
  void* dibBits = nullptr;
  int32_t dibWidth = 0, dibHeight = 0;
  std::vector<uint8_t> previousFrame;
};

} // namespace dravnok::capture
