#include "congestion/rate_controller.h"

#include "congestion/adaptive_pacer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace dravnok::remote {
namespace {

constexpr int64_t kUpdatePeriodNs = 200'000'000;
constexpr double kCutLoss = 0.1;
constexpr double kGrowLoss = 0.02;
constexpr double kLossCut = 0.7;
constexpr double kOtherCut = 0.85;
constexpr int64_t kCutSpacingMs = 1000;
constexpr double kGrowthPerSecond = 1.08;
constexpr double kMaxGrowthSeconds = 2.0;
constexpr double kCreepPerUpdate = 1.01;
constexpr int64_t kCreepAfterMs = 3000;
constexpr int64_t kMinRttRefreshMs = 30'000;
constexpr int64_t kMinRttMarginMs = 100;
constexpr int32_t kRttHighReports = 2;
constexpr uint32_t kPliStormCount = 2;
constexpr int64_t kPliWindowMs = 2000;
constexpr int64_t kPliStormAfterFirstReportMs = 3000;
constexpr double kNackRatioCut = 0.1;
constexpr int64_t kFeedbackSilenceMs = 3000;
constexpr double kBigDrop = 0.7;
constexpr int64_t kBigDropSpacingMs = 1000;
constexpr double kBitsPerPixelPerFrame = 0.04;
constexpr double kFpsRaiseHeadroom = 1.2;
constexpr int64_t kFpsRaiseAfterMs = 3000;
constexpr int64_t kFirstRembWindowMs = 5000;
constexpr int64_t kLogPeriodMs = 5000;
constexpr size_t kLogLineBytes = 256;

uint32_t saturate32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

// 8/5 of the target, computed wide so that very high targets cannot wrap.
uint32_t pacerRateFor(uint32_t targetBps) {
  return std::max(saturate32(uint64_t{targetBps} * 8 / 5), RateController::kPacerFloorBps);
}

int32_t queueMs(const std::shared_ptr<AdaptivePacer>& pacer) {
  if (!pacer) return 0;
  const uint64_t ms = uint64_t{pacer->queuedBytes()} * 8000 / std::max<uint32_t>(pacer->rateBps(), 1);
  return static_cast<int32_t>(std::min<uint64_t>(ms, std::numeric_limits<int32_t>::max()));
}

RateControllerConfig normalised(RateControllerConfig config) {
  config.minBps = std::max(config.minBps, RateController::kMinFloorBps);
  config.maxBps = std::max(config.maxBps, config.minBps);
  config.startBps = std::clamp(config.startBps, config.minBps, config.maxBps);
  return config;
}

} // namespace

RateController::RateController(RateControllerConfig config, LogCallback log, std::shared_ptr<Clock> clock)
    : config_(normalised(config)), log_(std::move(log)), clock_(std::move(clock)), targetBps_(config_.startBps),
      targetFps_(fpsFor(config_.startBps, config_.width, config_.height)), rateBps_(config_.startBps) {
  startMs_ = clock_->steadyMs();
  feedback_.lastFeedbackMs.store(startMs_);
}

RateController::~RateController() { stop(); }

int32_t RateController::fpsFor(uint32_t bitrate, int32_t width, int32_t height) {
  const double pixels = std::max(static_cast<double>(width) * static_cast<double>(height), 1.0);
  for (const int32_t fps : {30, 20, 15}) {
    if (bitrate >= fps * pixels * kBitsPerPixelPerFrame) return fps;
  }
  return 10;
}

void RateController::setStatsProvider(StatsProvider provider) { statsProvider_ = std::move(provider); }

void RateController::setPacer(std::shared_ptr<AdaptivePacer> pacer) {
  std::lock_guard lock(pacerMutex_);
  pacer_ = std::move(pacer);
  if (pacer_) pacer_->setRate(pacerRateFor(targetBps_.load()));
}

std::shared_ptr<AdaptivePacer> RateController::currentPacer() const {
  std::lock_guard lock(pacerMutex_);
  return pacer_;
}

int32_t RateController::pacerQueueMs() const { return queueMs(currentPacer()); }

void RateController::start() {
  if (running_.exchange(true)) return;
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  const int64_t nowMs = clock_->steadyMs();
  startMs_ = nowMs;
  lastLogMs_ = nowMs;
  feedback_.lastFeedbackMs.store(nowMs);
  thread_ = std::thread([this] { run(); });
}

void RateController::stop() {
  const bool onOwnThread = thread_.joinable() && thread_.get_id() == std::this_thread::get_id();
  if (running_.exchange(false)) {
    { std::lock_guard lock(threadMutex_); }
    threadWake_.notify_all();
    if (thread_.joinable()) {
      if (onOwnThread) {
        thread_.detach(); // stopped from a log callback: the loop ends by itself
      } else {
        thread_.join();
      }
    }
  } else if (thread_.joinable() && !onOwnThread) {
    thread_.join();
  }
}

void RateController::run() {
  std::unique_lock lock(threadMutex_);
  while (running_.load()) {
    // The period starts here, so steps drift by the time update() takes.
    const int64_t deadline = clock_->steadyNs() + kUpdatePeriodNs;
    clock_->waitUntil(lock, threadWake_, deadline, [this] { return !running_.load(); });
    if (!running_.load()) return;
    lock.unlock();
    update(clock_->steadyMs());
    lock.lock();
  }
}

void RateController::update(int64_t nowMs) {
  const std::shared_ptr<AdaptivePacer> pacer = currentPacer();
  const uint32_t prevTarget = targetBps_.load();
  const double minBps = config_.minBps;
  const double maxBps = config_.maxBps;

  // What actually left over the last five updates. Little egress means the
  // encoder is not using the target, so there is nothing to learn by growing.
  uint32_t egress = 0;
  bool appLimited = false;
  if (pacer) {
    egressSlot_ = (egressSlot_ + 1) % static_cast<int32_t>(egressRing_.size());
    EgressSample& slot = egressRing_[static_cast<size_t>(egressSlot_)];
    const uint64_t sent = pacer->bytesSent();
    // A replaced pacer counts from zero again; its first samples say nothing.
    if (slot.atMs >= 1 && nowMs > slot.atMs && sent >= slot.bytesSent) {
      egress = saturate32((sent - slot.bytesSent) * 8000 / static_cast<uint64_t>(nowMs - slot.atMs));
    }
    slot = {sent, nowMs};
    appLimited = egress < prevTarget / 2;
  }

  if (nowMs - pliWindowStartMs_ > kPliWindowMs) {
    pliWindowStartMs_ = nowMs;
    pliWindowCount_ = 0;
  }
  const uint32_t pictureLoss = feedback_.pictureLossCount.load();
  pliWindowCount_ += pictureLoss - lastPictureLoss_;
  lastPictureLoss_ = pictureLoss;
  // Right after the first report a few requests are just the decoder starting.
  const bool pliStorm =
      pliWindowCount_ >= kPliStormCount && lastEvalMs_ != 0 && nowMs - firstReportMs_ > kPliStormAfterFirstReportMs;

  const uint32_t reports = feedback_.receiverReports.load();
  if (reports != lastReceiverReports_) {
    lastReceiverReports_ = reports;
    if (firstReportMs_ == 0) firstReportMs_ = nowMs;
    const uint32_t fractionLost = feedback_.fractionLost.load();
    const int64_t rttMs = feedback_.rttMs.load();
    const double loss = fractionLost * 0.00390625;
    logFractionLost_ = fractionLost;
    logRttMs_ = rttMs;

    if (rttMs >= 0) {
      if (minRttMs_ < 0 || rttMs < minRttMs_ || nowMs - minRttAtMs_ > kMinRttRefreshMs) {
        minRttMs_ = rttMs;
        minRttAtMs_ = nowMs;
      }
      if (rttMs > minRttMs_ + std::max(minRttMs_, kMinRttMarginMs)) {
        ++rttHighCount_;
      } else {
        rttHighCount_ = 0;
      }
    } else {
      rttHighCount_ = 0;
    }

    const uint64_t packets = pacer ? pacer->packetsSent() : 0;
    const uint32_t nacks = feedback_.nackCount.load();
    double nackRatio = 0.0;
    if (packets != lastPacketsSent_) {
      nackRatio = static_cast<double>(static_cast<uint32_t>(nacks - lastNackCount_)) /
                  static_cast<double>(packets - lastPacketsSent_);
    }
    lastNackCount_ = nacks;
    lastPacketsSent_ = packets;

    if (loss > kCutLoss || rttHighCount_ >= kRttHighReports || pliStorm || nackRatio > kNackRatioCut) {
      if (nowMs - lastDecreaseMs_ >= kCutSpacingMs) {
        rateBps_ = std::max(rateBps_ * (loss > kCutLoss ? kLossCut : kOtherCut), minBps);
        lastDecreaseMs_ = nowMs;
      }
    } else if (loss < kGrowLoss && !appLimited) {
      const double seconds = std::clamp((nowMs - lastEvalMs_) / 1000.0, 0.0, kMaxGrowthSeconds);
      rateBps_ = std::min(rateBps_ * std::pow(kGrowthPerSecond, seconds), maxBps);
    }
    lastEvalMs_ = nowMs;
  } else if (lastEvalMs_ == 0 && nowMs - startMs_ > kCreepAfterMs && !appLimited) {
    // A viewer that sends no reports yet gets a slow probe upwards.
    rateBps_ = std::min(rateBps_ * kCreepPerUpdate, maxBps);
  }

  double value = rateBps_;

  const uint64_t remb = feedback_.rembBps.load();
  if (remb != 0 && nowMs - feedback_.rembAtMs.load() < kFirstRembWindowMs && !firstRembLogged_ && log_) {
    firstRembLogged_ = true;
    log_("cc: first REMB " + std::to_string(remb / 1000) + " kbps");
  }

  // Silence while we are still sending: the path may be gone. Halve per
  // second, but only in the output, so the estimate returns with feedback.
  if (feedback_.feedbackSeen.load()) {
    const int64_t silentMs = nowMs - feedback_.lastFeedbackMs.load();
    if (silentMs > kFeedbackSilenceMs && egress > config_.minBps / 4) {
      value = std::max(value * std::pow(0.5, (silentMs - kFeedbackSilenceMs) / 1000.0), minBps);
    }
  }

  value = std::clamp(value, minBps, maxBps);

  if (value < prevTarget * kBigDrop) {
    if (nowMs - lastBigDropMs_ >= kBigDropSpacingMs) {
      lastBigDropMs_ = nowMs;
    } else {
      value = prevTarget * kBigDrop;
    }
  }

  const auto target = static_cast<uint32_t>(value);
  targetBps_.store(target);

  // The frame rate falls at once but rises one step at a time, after the
  // target has cleared the next step with headroom for a while.
  const int32_t wanted = fpsFor(target, config_.width, config_.height);
  const int32_t current = targetFps_.load();
  if (wanted < current) {
    targetFps_.store(wanted);
    fpsRaiseSinceMs_ = 0;
  } else if (wanted > current) {
    const int32_t headroom = fpsFor(static_cast<uint32_t>(target / kFpsRaiseHeadroom), config_.width, config_.height);
    if (headroom <= current) {
      fpsRaiseSinceMs_ = 0;
    } else {
      if (fpsRaiseSinceMs_ == 0) fpsRaiseSinceMs_ = nowMs;
      if (nowMs - fpsRaiseSinceMs_ >= kFpsRaiseAfterMs) {
        targetFps_.store(current < 15 ? 15 : current < 20 ? 20 : 30);
        fpsRaiseSinceMs_ = 0;
      }
    }
  }

  if (pacer) pacer->setRate(pacerRateFor(target));

  if (log_ && nowMs - lastLogMs_ >= kLogPeriodMs) {
    lastLogMs_ = nowMs;
    logPeriodic(egress, pacer, pictureLoss);
  }
}

void RateController::logPeriodic(uint32_t egress, const std::shared_ptr<AdaptivePacer>& pacer, uint32_t pictureLoss) {
  char line[kLogLineBytes];
  std::snprintf(line, sizeof line,
                "cc: target=%ukbps fps=%d remb=%llukbps loss=%.1f%% rtt=%lldms egress=%ukbps pacerQ=%dms nacks=%u "
                "plis=%u",
                static_cast<unsigned>(targetBps_.load() / 1000), static_cast<int>(targetFps_.load()),
                static_cast<unsigned long long>(feedback_.rembBps.load() / 1000), logFractionLost_ * 100 / 256.0,
                static_cast<long long>(logRttMs_), static_cast<unsigned>(egress / 1000),
                static_cast<int>(queueMs(pacer)), static_cast<unsigned>(feedback_.nackCount.load()),
                static_cast<unsigned>(pictureLoss));
  std::string text(line);
  if (statsProvider_) text += " | " + statsProvider_();
  log_(text);
}

} // namespace dravnok::remote
