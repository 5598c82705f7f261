#pragma once
// The decisions of frame acquisition, apart from the platform: when to take
// a duplicated frame, when a screen copy instead, when to re-open the
// duplication, when to give it up for good, and monitor switches.
//
// The platform supplies a CaptureBackend; frames are the platform's
// CapturedFrame (default-constructed = invalid, nothing to encode).
#include "capture/monitor_info.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace dravnok::capture {

enum class DuplicatedFrame { Image, PointerOnly, TimedOut, AccessLost, Failed };

template <class Frame> class CaptureBackend {
public:
  virtual ~CaptureBackend() = default;
  // Milliseconds of a monotonic clock.
  virtual uint64_t tickCount() = 0;
  virtual bool duplicationOpen() const = 0;
  // Opens a duplication of the output at the capture origin and takes its
  // size as the capture size.
  virtual bool openDuplicationForMonitor() = 0;
  virtual void releaseDuplication() = 0;
  // On Image and PointerOnly a frame is held until releaseHeldFrame.
  virtual DuplicatedFrame acquireNextFrame(int timeoutMs) = 0;
  virtual void releaseHeldFrame() = 0;
  // The held frame's image; false when it cannot be had.
  virtual bool takeHeldImage() = 0;
  virtual bool heldImageIsBlack() = 0;
  // Hands the held image out; the frame stays held.
  virtual void deliverHeldImage(Frame& out) = 0;
  // A copy of the screen at the encode size; false when there is no new
  // image (failure, or unchanged when `skipUnchanged`).
  virtual bool captureScreenCopy(Frame& out, bool skipUnchanged) = 0;
  // Moves the capture rectangle and forgets the last screen copy.
  virtual void setCaptureRectangle(const MonitorInfo& monitor) = 0;
};

// How long after a failed opening the next one is tried.
inline constexpr uint64_t kReopenDelayMs = 500;
// Images tested for blackness when initialisation saw none.
inline constexpr int kBlackChecksWhenUnproven = 3;

template <class Frame> class Acquisition {
public:
  explicit Acquisition(CaptureBackend<Frame>& backend) : backend(backend) {}

  // Every frame comes from screen copies; never cleared once set.
  bool gdiMode = false;
  // The next acquisition must deliver an image even if nothing changed.
  bool needFreshFrame = true;
  int blackChecksLeft = 0;
  uint64_t retryAfterTick = 0;
  bool frameHeld = false;
  bool skipUnchangedGdiFrames = false;
  std::vector<MonitorInfo> monitors;
  int currentMonitor = 0;

  // Any thread. Stores the request when the index names a monitor.
  bool requestMonitor(int index) {
    if (index < 0 || static_cast<size_t>(index) >= monitors.size()) return false;
    pendingMonitor.store(index);
    return true;
  }

  // The duplication is open: watch it for a short while. A black image gives
  // it up (false); no image at all keeps it but arms the black checks.
  bool keepDuplicationAfterProbe(uint64_t probeMs, int probeTimeoutMs) {
    const uint64_t deadline = backend.tickCount() + probeMs;
    needFreshFrame = true;
    while (backend.tickCount() < deadline) {
      switch (backend.acquireNextFrame(probeTimeoutMs)) {
      case DuplicatedFrame::TimedOut:
        continue;
      case DuplicatedFrame::PointerOnly:
        backend.releaseHeldFrame();
        continue;
      case DuplicatedFrame::Image: {
        bool black = backend.takeHeldImage() && backend.heldImageIsBlack();
        backend.releaseHeldFrame();
        if (black) {
          backend.releaseDuplication();
          return false;
        }
        blackChecksLeft = 0;
        return true;
      }
      case DuplicatedFrame::AccessLost:
      case DuplicatedFrame::Failed:
        blackChecksLeft = kBlackChecksWhenUnproven;
        return true;
      }
    }
    blackChecksLeft = kBlackChecksWhenUnproven;
    return true;
  }

  // Fills `out` with the next image or leaves it invalid; never fails.
  void acquireFrame(Frame& out, int timeoutMs) {
    out = Frame{};
    applyPendingMonitor();
    if (gdiMode) {
      backend.captureScreenCopy(out, skipUnchangedGdiFrames);
      return;
    }
    if (!backend.duplicationOpen()) {
      if (backend.tickCount() >= retryAfterTick) {
        if (backend.openDuplicationForMonitor()) {
          needFreshFrame = true;
        } else {
          dropDuplication();
          retryAfterTick = backend.tickCount() + kReopenDelayMs;
        }
      }
      if (!backend.duplicationOpen()) {
        backend.captureScreenCopy(out, skipUnchangedGdiFrames);
        return;
      }
    }
    switch (backend.acquireNextFrame(timeoutMs >= 1 ? timeoutMs : 0)) {
    case DuplicatedFrame::TimedOut:
      if (needFreshFrame) captureFill(out);
      return;
    case DuplicatedFrame::AccessLost:
      dropDuplication();
      if (!backend.openDuplicationForMonitor()) {
        dropDuplication();
        retryAfterTick = backend.tickCount() + kReopenDelayMs;
      }
      needFreshFrame = true;
      return;
    case DuplicatedFrame::Failed:
      dropDuplication();
      retryAfterTick = backend.tickCount() + kReopenDelayMs;
      return;
    case DuplicatedFrame::PointerOnly:
      backend.releaseHeldFrame();
      if (needFreshFrame) captureFill(out);
      return;
    case DuplicatedFrame::Image:
      frameHeld = true;
      break;
    }
    if (!backend.takeHeldImage()) {
      releaseHeld();
      return;
    }
    needFreshFrame = false;
    if (blackChecksLeft > 0) {
      --blackChecksLeft;
      if (backend.heldImageIsBlack()) {
        releaseHeld();
        if (blackChecksLeft == 0) {
          dropDuplication();
          gdiMode = true;
        }
        backend.captureScreenCopy(out, skipUnchangedGdiFrames);
        return;
      }
      blackChecksLeft = 0;
    }
    backend.deliverHeldImage(out);
  }

  void releaseFrame() {
    if (frameHeld && backend.duplicationOpen()) backend.releaseHeldFrame();
    frameHeld = false;
  }

  // The fill-in copy: an image even when the screen did not change.
  void captureFill(Frame& out) {
    needFreshFrame = false;
    if (!backend.captureScreenCopy(out, false)) out = Frame{};
  }

private:
  void applyPendingMonitor() {
    const int index = pendingMonitor.exchange(-1);
    if (index < 0 || static_cast<size_t>(index) >= monitors.size() || index == currentMonitor) return;
    currentMonitor = index;
    backend.setCaptureRectangle(monitors[index]);
    if (gdiMode) return;
    dropDuplication();
    if (backend.openDuplicationForMonitor()) {
      needFreshFrame = true;
    } else {
      dropDuplication();
      gdiMode = true;
    }
  }

  void releaseHeld() {
    if (frameHeld) backend.releaseHeldFrame();
    frameHeld = false;
  }

  // A held frame belongs to the duplication and goes with it.
  void dropDuplication() {
    if (frameHeld && backend.duplicationOpen()) backend.releaseHeldFrame();
    frameHeld = false;
    backend.releaseDuplication();
  }

  CaptureBackend<Frame>& backend;
  std::atomic<int> pendingMonitor{-1};
};

// What a platform's capturer offers its callers about monitors and
// acquisition, the same everywhere; the platform supplies the backend.
template <class Frame> class AcquiringCapturer : protected CaptureBackend<Frame> {
public:
  void releaseFrame() { acquisition.releaseFrame(); }
  bool requestMonitor(int index) { return acquisition.requestMonitor(index); }

  const std::vector<MonitorInfo>& monitors() const { return acquisition.monitors; }
  int currentMonitor() const { return acquisition.currentMonitor; }
  bool gdiMode() const { return acquisition.gdiMode; }
  void setSkipUnchangedGdiFrames(bool skip) { acquisition.skipUnchangedGdiFrames = skip; }
  void setNeedFreshFrame() { acquisition.needFreshFrame = true; }

protected:
  Acquisition<Frame> acquisition{*this};
};

} // namespace dravnok::capture
