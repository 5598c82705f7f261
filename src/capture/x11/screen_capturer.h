#pragma once
// Screen capture of an X display: the monitor's rectangle of the root
// window, read through shared memory and scaled to the encode size. The X
// server has no duplication interface, so every image is a screen copy.
#include "capture/acquisition.h"
#include "capture/monitor_info.h"
#include "common/nearest_maps.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dravnok::capture {

namespace x11 {
class DamageWatch;
class ScreenReader;
struct DisplayHandle;
} // namespace x11

// One captured image. Invalid (the default) means nothing new this time.
struct CapturedFrame {
  // Monotonic nanoseconds at capture (timestampFrequency() per second).
  int64_t timestamp = 0;
  bool valid = false;
  // Top-down BGRA rows at the encode size, valid until the next capture.
  const uint8_t* pixels = nullptr;
  uint32_t pitch = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

int64_t timestampFrequency();

class ScreenCapturer final : public AcquiringCapturer<CapturedFrame> {
public:
  ScreenCapturer();
  ~ScreenCapturer() override;
  ScreenCapturer(const ScreenCapturer&) = delete;
  ScreenCapturer& operator=(const ScreenCapturer&) = delete;

  // Opens the display named by DISPLAY, lists the monitors and starts on the
  // primary one. `maxDimension` 0 keeps the monitor's size.
  bool init(uint32_t maxDimension, std::string& error);
  void acquireFrame(CapturedFrame& out, int timeoutMs);
  // Images are CPU rows on this platform; kept for the callers' settings.
  void setUploadGdiFrames(bool upload) { uploadGdiFrames = upload; }
  // How the screen is read, for the log.
  std::string captureMethod() const;

  int32_t width = 0, height = 0, left = 0, top = 0;
  int32_t encodeWidth = 0, encodeHeight = 0;

private:
  uint64_t tickCount() override;
  bool duplicationOpen() const override { return false; }
  bool openDuplicationForMonitor() override { return false; }
  void releaseDuplication() override {}
  DuplicatedFrame acquireNextFrame(int) override { return DuplicatedFrame::Failed; }
  void releaseHeldFrame() override {}
  bool takeHeldImage() override { return false; }
  bool heldImageIsBlack() override { return false; }
  void deliverHeldImage(CapturedFrame&) override {}
  bool captureScreenCopy(CapturedFrame& out, bool skipUnchanged) override;
  void setCaptureRectangle(const MonitorInfo& monitor) override;

  std::unique_ptr<x11::DisplayHandle> display;
  // Two copies of the screen taken in turn: the newest is compared with the
  // one before it in place, and either can be handed out without copying.
  struct Copy {
    std::unique_ptr<x11::ScreenReader> reader;
    std::vector<uint8_t> scaled;
    const uint8_t* pixels = nullptr;
  };
  Copy copies[2];
  int current = 0;
  // copies[current ^ 1] holds the last image handed out.
  bool havePrevious = false;
  std::unique_ptr<x11::DamageWatch> damage;
  uint64_t lastCopyTick = 0;
  NearestMaps maps;
  uint32_t maxDimension = 0;
  bool uploadGdiFrames = true;
};

} // namespace dravnok::capture
