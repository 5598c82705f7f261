#include "video/encode_loop.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace dravnok::video {

namespace {
constexpr int64_t nsPerMs = 1'000'000;
double msBetween(int64_t fromNs, int64_t toNs) { return static_cast<double>(toNs - fromNs) / 1e6; }
} // namespace

EncodeLoop::EncodeLoop(EncoderBackend& backend, LoopClock& clock, int32_t width, int32_t height, int32_t fps,
                       int32_t quality)
    : backend(backend), clock(clock), width(width), height(height), configuredFps(fps), currentQuality(quality),
      publishedQuality(quality) {
  stats.windowStartMs = nowMs();
}

EncodeLoop::~EncodeLoop() { stop(); }

void EncodeLoop::start(PictureSource& pictures) {
  stop();
  source = &pictures;
  {
    std::lock_guard lock(statsMutex);
    stats = Statistics{};
    stats.windowStartMs = nowMs();
  }
  running = true;
  beginStreaming();
  clock.holdFineTimer(true);
  fineTimerHeld = true;
  thread = std::thread([this] {
    while (running) runPass();
  });
}

void EncodeLoop::beginStreaming() {
  // Asynchronous output comes from the encoder's own thread: it must not
  // touch the loop's size history.
  backend.beginStreaming([this](const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp) {
    deliver(data, length, keyFrame, timestamp, false);
  });
}

void EncodeLoop::stop() {
  running = false;
  if (thread.joinable()) thread.join();
  if (std::exchange(fineTimerHeld, false)) clock.holdFineTimer(false);
}

void EncodeLoop::setActive(bool value) {
  active = value;
  if (value) {
    keyFrameUrgent = true;
    keyFrameRequested = true;
  }
}

void EncodeLoop::requestKeyFrame(bool urgent) {
  if (urgent) keyFrameUrgent = true;
  keyFrameRequested = true;
}

uint32_t EncodeLoop::targetBitrate() const { return rate ? rate->targetBitrate() : 0; }

int32_t EncodeLoop::frameRate() const {
  return currentFrameRate(rate ? rate->targetFrameRate() : 30, configuredFps, cap);
}

bool EncodeLoop::applyQuality(int32_t q) {
  q = std::clamp(q, 1, 100);
  if (q == currentQuality) return true;
  if (!backend.setQuality(q)) return false;
  currentQuality = q;
  publishedQuality = q;
  return true;
}

void EncodeLoop::deliver(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp, bool recordDeltas) {
  if (length == 0) return;
  if (frameSink) frameSink(data, length, keyFrame, timestamp);
  const int64_t m = nowMs();
  if (keyFrame)
    lastIdr = m;
  else if (recordDeltas)
    deltaSizes.emplace_back(m, static_cast<uint32_t>(length));
  std::lock_guard lock(statsMutex);
  ++stats.frames;
  if (keyFrame) ++stats.keyFrames;
  stats.bytes += length;
}

bool EncodeLoop::encodePicture(const uint8_t* nv12, int64_t timestamp, bool forceKey, bool recordDeltas) {
  const int32_t q = currentQuality;
  const bool ok = backend.encode(nv12, timestamp, forceKey, [&](const uint8_t* data, size_t length, bool key) {
    deliver(data, length, key, timestamp, recordDeltas);
  });
  if (!ok) return false;
  const int64_t m = nowMs();
  if (forceKey) {
    keyFrameRequested = false;
    keyFrameUrgent = false;
    lastIdr = m;
  }
  lastEncodeMs = m;
  lastEncodeQuality = q;
  return true;
}

void EncodeLoop::account(int64_t passStart, double acquireMs, double convertMs, double encodeMs) {
  producedBefore = true;
  lastProducingStartNs = passStart;
  std::lock_guard lock(statsMutex);
  stats.acquireMs += acquireMs;
  stats.convertMs += convertMs;
  stats.encodeMs += encodeMs;
  stats.longestPassMs = std::max(stats.longestPassMs, msBetween(passStart, clock.nowNs()));
}

void EncodeLoop::idle(int64_t passStart, int64_t intervalNs) {
  clock.sleepUntilNs(passStart + std::max<int64_t>(intervalNs, 10 * nsPerMs));
}

void EncodeLoop::runPass() {
  const int32_t f = frameRate();
  publishedFps = f;
  backend.setFrameRate(f);
  const int64_t interval = 1'000'000'000 / f;
  int64_t passStart = clock.nowNs();
  if (!active) {
    clock.sleepUntilNs(passStart + 20 * nsPerMs);
    return;
  }
  if (producedBefore && passStart - lastProducingStartNs < interval) {
    clock.sleepUntilNs(lastProducingStartNs + interval);
    passStart = clock.nowNs();
  }
  const int64_t m = passStart / nsPerMs;
  if (rate && rate->takeKeyframeRequest()) keyFrameRequested = true;
  adapt(m);
  if (rate && rate->pacerQueueMs() > 150) {
    {
      std::lock_guard lock(statsMutex);
      ++stats.skip;
    }
    clock.sleepUntilNs(clock.nowNs() + 8 * nsPerMs);
    return;
  }

  const int64_t idr = lastIdr.load();
  const bool keyDue = keyFrameRequested && (keyFrameUrgent || idr == 0 || m - idr >= 1000);
  const int timeout = keyDue ? 0 : std::clamp(1000 / f, 5, 50);
  const int64_t acquireStart = clock.nowNs();
  const bool valid = source->acquire(timeout);
  const double acquireMs = msBetween(acquireStart, clock.nowNs());

  if (!valid) {
    source->release();
    if (!lastPicture || backend.asynchronous()) {
      // Nothing to re-encode here (an asynchronous encoder cannot re-encode
      // at all): a due key frame needs a capture even of a still screen, or
      // a viewer that lost a picture would wait for the next change.
      if (keyDue) source->requestFreshFrame();
      return idle(passStart, interval);
    }
    const uint32_t target = targetBitrate();
    if (keyDue) {
      // The viewer lost a picture but the screen has not changed: resend the
      // last one as an IDR instead of waiting for a change.
      const int32_t remembered = currentQuality;
      applyQuality(std::min(keyFrameQuality(target), remembered));
      const int64_t encodeStart = clock.nowNs();
      const bool ok = encodePicture(lastPicture, clock.sampleTime(), true, false);
      const double encodeMs = msBetween(encodeStart, clock.nowNs());
      applyQuality(remembered);
      if (!ok) return idle(passStart, interval);
      {
        std::lock_guard lock(statsMutex);
        ++stats.cached;
      }
      return account(passStart, acquireMs, 0, encodeMs);
    }
    const int32_t refineQuality = std::min(qualityCeiling(target, qualityTarget) + 8, qualityTarget);
    if (lastEncodeQuality < refineQuality - 4 && m - lastEncodeMs >= 800 && m - lastRefineMs >= 2500 &&
        (target == 0 || target >= 2'000'000)) {
      // A still screen: sharpen the picture that is already showing.
      const int32_t remembered = currentQuality;
      applyQuality(refineQuality);
      const int32_t inEffect = currentQuality;
      const int64_t encodeStart = clock.nowNs();
      const bool ok = encodePicture(lastPicture, clock.sampleTime(), false, false);
      const double encodeMs = msBetween(encodeStart, clock.nowNs());
      applyQuality(remembered);
      lastRefineMs = m;
      if (!ok) return idle(passStart, interval);
      lastEncodeQuality = inEffect;
      {
        std::lock_guard lock(statsMutex);
        ++stats.refine;
      }
      return account(passStart, acquireMs, 0, encodeMs);
    }
    return idle(passStart, interval);
  }

  // Straight into the encoder's own buffer where it lends one: a picture is
  // megabytes, not to be copied once more.
  uint8_t* target = backend.lendPicture();
  if (!target) {
    ownPictures[0].resize(static_cast<size_t>(width) * height * 3 / 2);
    target = ownPictures[0].data();
  }
  const int64_t convertStart = clock.nowNs();
  const bool converted = source->convert(target);
  source->release();
  const double convertMs = msBetween(convertStart, clock.nowNs());
  if (!converted) return idle(passStart, interval);
  const int64_t timestamp = clock.sampleTime();
  const int64_t encodeStart = clock.nowNs();
  bool ok;
  if (backend.asynchronous()) {
    // Queued, not encoded yet: the output arrives on the encoder's thread.
    ok = encodePicture(target, timestamp, keyDue, false);
  } else if (keyDue) {
    const int32_t remembered = currentQuality;
    applyQuality(std::min(keyFrameQuality(targetBitrate()), remembered));
    ok = encodePicture(target, timestamp, true, false);
    applyQuality(remembered);
  } else {
    ok = encodePicture(target, timestamp, false, true);
  }
  const double encodeMs = msBetween(encodeStart, clock.nowNs());
  lastPicture = target;
  if (target == ownPictures[0].data()) ownPictures[0].swap(ownPictures[1]);
  if (!ok) return idle(passStart, interval);
  account(passStart, acquireMs, convertMs, encodeMs);
}

void EncodeLoop::adapt(int64_t m) {
  if (m - lastAdaptMs < 250) return;
  lastAdaptMs = m;
  const uint32_t target = targetBitrate();
  if (target == 0) return;
  while (!deltaSizes.empty() && m - deltaSizes.front().first > 1000) deltaSizes.pop_front();
  double bits = 0;
  for (const auto& entry : deltaSizes) bits += 8.0 * entry.second;
  const int32_t ceiling = qualityCeiling(target, qualityTarget);
  if (currentQuality > ceiling) applyQuality(ceiling);
  if (deltaSizes.empty()) {
    overshootSinceMs = 0;
    undershootSinceMs = 0;
    return;
  }
  const double t = target;
  if (bits > 1.15 * t) {
    undershootSinceMs = 0;
    if (overshootSinceMs == 0) overshootSinceMs = m;
    if (currentQuality > qualityFloor && m - lastQualityDownMs >= 300) {
      applyQuality(std::max(qualityFloor, currentQuality - (bits > 2 * t ? 10 : 5)));
      lastQualityDownMs = m;
    }
    // Fewer frames only once quality has nowhere left to go.
    if (currentQuality > qualityFloor + 3 || m - overshootSinceMs < 1000 || m - lastFpsChangeMs < 1500 || cap <= 10)
      return;
    cap = cap > 20 ? 20 : cap > 15 ? 15 : 10;
    lastFpsChangeMs = m;
    return;
  }
  overshootSinceMs = 0;
  if (bits < 0.6 * t) {
    if (undershootSinceMs == 0) undershootSinceMs = m;
    if (cap < 30 && m - undershootSinceMs >= 3000 && m - lastFpsChangeMs >= 3000) {
      cap = cap < 15 ? 15 : cap < 20 ? 20 : 30;
      lastFpsChangeMs = m;
      return;
    }
    if (currentQuality < ceiling && m - lastQualityUpMs >= 1000) {
      applyQuality(std::min(currentQuality + 4, ceiling));
      lastQualityUpMs = m;
    }
    return;
  }
  undershootSinceMs = 0;
}

std::string EncodeLoop::statisticsLine() {
  std::lock_guard lock(statsMutex);
  const int64_t now = nowMs();
  const double elapsed = std::max(static_cast<double>(now - stats.windowStartMs) / 1000.0, 0.001);
  const double n = std::max<uint32_t>(stats.frames, 1);
  const bool copyMode = source && source->screenCopyMode();
  char line[320];
  std::snprintf(line, sizeof line,
                "enc fps=%.1f q=%d fpscap=%d kbps=%.0f idr=%u cached=%u refine=%u skip=%u acq=%.1fms conv=%.1fms "
                "enc=%.1fms maxloop=%.0fms path=%s conv=%s/%d encoder=%s",
                stats.frames / elapsed, publishedQuality.load(), publishedFps.load(),
                static_cast<double>(stats.bytes) * 8 / elapsed / 1000, stats.keyFrames, stats.cached, stats.refine,
                stats.skip, stats.acquireMs / n, stats.convertMs / n, stats.encodeMs / n, stats.longestPassMs,
                copyMode ? "gdi" : "dd", source && source->legacyConverter() ? "legacy" : "fast",
                source ? source->converterThreads() : 1, backend.name());
  stats = Statistics{};
  stats.windowStartMs = now;
  return line;
}

} // namespace dravnok::video
