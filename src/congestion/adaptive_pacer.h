#pragma once
// The last handler of the video track's chain: queues RTP packets and lets
// them out at a set byte rate on its own thread, so that a key frame of a few
// hundred packets never leaves as one burst. Control messages (RTCP) pass at
// once.
#include "congestion/clock.h"

#include <rtc/mediahandler.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace dravnok::remote {

class AdaptivePacer final : public rtc::MediaHandler {
public:
  static constexpr uint32_t kMinRateBps = 200'000;

  // Starts the worker. Rates below kMinRateBps are raised to it.
  explicit AdaptivePacer(uint32_t rateBps, std::shared_ptr<Clock> clock = systemClock());
  ~AdaptivePacer() override;
  AdaptivePacer(const AdaptivePacer&) = delete;
  AdaptivePacer& operator=(const AdaptivePacer&) = delete;

  // Moves the RTP packets into the queue and leaves only the other messages
  // in `messages`, in their order. After stop() everything passes unpaced.
  void outgoing(rtc::message_vector& messages, const rtc::message_callback& send) override;

  // Takes effect at the worker's next pass.
  void setRate(uint32_t bps);

  // Drops whatever is queued and ends the worker. Idempotent; never restarts.
  void stop();

  uint32_t rateBps() const { return rateBps_.load(); }
  uint32_t queuedBytes() const { return queuedBytes_.load(); }
  uint64_t packetsSent() const { return packetsSent_.load(); }
  uint64_t bytesSent() const { return bytesSent_.load(); }

private:
  void drain();

  std::shared_ptr<Clock> clock_;
  std::atomic<uint32_t> rateBps_;
  std::atomic<uint32_t> queuedBytes_{0};
  std::atomic<uint64_t> packetsSent_{0};
  std::atomic<uint64_t> bytesSent_{0};

  std::mutex mutex_; // guards queue_, send_ and stopped_
  std::condition_variable wake_;
  std::deque<rtc::message_ptr> queue_;
  rtc::message_callback send_;
  bool stopped_ = false;
  std::thread worker_;
};

} // namespace dravnok::remote
