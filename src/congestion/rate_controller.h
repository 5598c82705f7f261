#pragma once
// Decides how fast the video may be sent. Every 200 ms it turns the viewer's
// feedback and the pacer's real output into a target bitrate, a frame rate
// and the pacer's drain rate. It rises only on clean receiver reports and
// falls only on loss, RTT growth, picture-loss storms, NACK bursts or
// missing feedback; the viewer's REMB is only logged.
#include "congestion/clock.h"
#include "congestion/rtcp_feedback.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dravnok::remote {

class AdaptivePacer;

struct RateControllerConfig {
  uint32_t maxBps = 0;
  uint32_t startBps = 0;
  uint32_t minBps = 0;
  int32_t width = 0;
  int32_t height = 0;
};

class RateController {
public:
  using LogCallback = std::function<void(const std::string& line)>;
  using StatsProvider = std::function<std::string()>;

  static constexpr uint32_t kMinFloorBps = 150'000;
  static constexpr uint32_t kPacerFloorBps = 500'000;

  RateController(RateControllerConfig config, LogCallback log, std::shared_ptr<Clock> clock = systemClock());
  ~RateController();
  RateController(const RateController&) = delete;
  RateController& operator=(const RateController&) = delete;

  // Text appended to the periodic log line. Set before start().
  void setStatsProvider(StatsProvider provider);
  // Also sets the new pacer's rate from the current target.
  void setPacer(std::shared_ptr<AdaptivePacer> pacer);

  // Runs update() every 200 ms on the controller's own thread.
  void start();
  // Ends and joins the thread. Idempotent.
  void stop();

  // One control step at `nowMs` (steady ms). One caller at a time.
  void update(int64_t nowMs);

  uint32_t targetBitrate() const { return targetBps_.load(); }
  int32_t targetFrameRate() const { return targetFps_.load(); }
  // The one-shot key-frame request of the viewer: true once per request.
  bool takeKeyframeRequest() { return feedback_.keyframeRequested.exchange(false); }
  // How long the pacer needs for what it holds, in ms; 0 without a pacer.
  int32_t pacerQueueMs() const;

  // The frame rate (30, 20, 15 or 10) that `bitrate` affords at this size.
  static int32_t fpsFor(uint32_t bitrate, int32_t width, int32_t height);

  const RateControllerConfig& config() const { return config_; }
  // Written by the feedback monitor.
  RtcpFeedback& feedback() { return feedback_; }

private:
  struct EgressSample {
    uint64_t bytesSent = 0;
    int64_t atMs = 0;
  };

  std::shared_ptr<AdaptivePacer> currentPacer() const;
  void run();
  void logPeriodic(uint32_t egress, const std::shared_ptr<AdaptivePacer>& pacer, uint32_t pictureLoss);

  RateControllerConfig config_;
  LogCallback log_;
  StatsProvider statsProvider_;
  std::shared_ptr<Clock> clock_;

  mutable std::mutex pacerMutex_; // guards pacer_ only
  std::shared_ptr<AdaptivePacer> pacer_;

  RtcpFeedback feedback_;
  std::atomic<uint32_t> targetBps_;
  std::atomic<int32_t> targetFps_;

  // Owned by update().
  double rateBps_;
  uint32_t lastReceiverReports_ = 0;
  int64_t lastEvalMs_ = 0;
  int64_t firstReportMs_ = 0;
  int64_t lastDecreaseMs_ = 0;
  int64_t lastBigDropMs_ = 0;
  int64_t minRttMs_ = -1;
  int64_t minRttAtMs_ = 0;
  int32_t rttHighCount_ = 0;
  uint32_t lastNackCount_ = 0;
  uint64_t lastPacketsSent_ = 0;
  uint32_t lastPictureLoss_ = 0;
  int64_t pliWindowStartMs_ = 0;
  uint32_t pliWindowCount_ = 0;
  int64_t fpsRaiseSinceMs_ = 0; // 0: not timing a raise
  int64_t startMs_ = 0;
  int64_t lastLogMs_ = 0;
  uint32_t logFractionLost_ = 0;
  int64_t logRttMs_ = -1;
  bool firstRembLogged_ = false;
  std::array<EgressSample, 5> egressRing_{};
  int32_t egressSlot_ = 0;

  std::atomic<bool> running_{false};
  std::mutex threadMutex_;
  std::condition_variable threadWake_;
  std::thread thread_;
};

} // namespace dravnok::remote
