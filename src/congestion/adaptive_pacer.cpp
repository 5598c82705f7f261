#include "congestion/adaptive_pacer.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace dravnok::remote {
namespace {

// Pause between passes while packets wait.
constexpr int64_t kPassNs = 2'000'000;
// The budget never holds more than this share of a second of the rate...
constexpr double kBurstSeconds = 0.02;
// ...nor less than two full-size packets, so that a pass can always send.
constexpr double kMinBurstBytes = 2600;

} // namespace

AdaptivePacer::AdaptivePacer(uint32_t rateBps, std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)), rateBps_(std::max(rateBps, kMinRateBps)) {
  worker_ = std::thread([this] { drain(); });
}

AdaptivePacer::~AdaptivePacer() {
  stop();
  std::lock_guard lock(mutex_);
  queue_.clear();
}

void AdaptivePacer::outgoing(rtc::message_vector& messages, const rtc::message_callback& send) {
  rtc::message_vector passOn;
  bool queued = false;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    send_ = send;
    for (auto& message : messages) {
      if (!message || message->type != rtc::Message::Binary) {
        passOn.push_back(std::move(message));
        continue;
      }
      queuedBytes_.fetch_add(static_cast<uint32_t>(message->size()));
      queue_.push_back(std::move(message));
      queued = true;
    }
  }
  messages = std::move(passOn);
  if (queued) wake_.notify_one();
}

void AdaptivePacer::setRate(uint32_t bps) {
  rateBps_.store(bps);
  wake_.notify_all();
}

void AdaptivePacer::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queue_.clear();
    queuedBytes_.store(0);
    send_ = nullptr;
  }
  wake_.notify_all();
  if (!worker_.joinable()) return;
  if (worker_.get_id() == std::this_thread::get_id()) {
    worker_.detach(); // stopped from the send callback: the loop ends by itself
  } else {
    worker_.join();
  }
}

void AdaptivePacer::drain() {
  double budget = 0.0; // bytes; negative while a released packet is paid off
  int64_t last = clock_->steadyNs();
  std::vector<rtc::message_ptr> batch;
  std::unique_lock lock(mutex_);
  while (!stopped_) {
    if (queue_.empty()) {
      wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
      // Credit is never saved up while idle.
      last = clock_->steadyNs();
      budget = 0.0;
      continue;
    }

    const int64_t now = clock_->steadyNs();
    const double rateBytes = rateBps_.load() * 0.125;
    const double cap = std::max(kMinBurstBytes, rateBytes * kBurstSeconds);
    budget = std::min(cap, budget + static_cast<double>(now - last) / 1e9 * rateBytes);
    last = now;

    while (budget > 0 && !queue_.empty()) {
      rtc::message_ptr packet = std::move(queue_.front());
      queue_.pop_front();
      const auto size = static_cast<uint32_t>(packet->size());
      budget -= size;
      queuedBytes_.fetch_sub(std::min(size, queuedBytes_.load()));
      batch.push_back(std::move(packet));
    }
    rtc::message_callback send = send_;
    lock.unlock();

    // The transport is called outside the lock so that outgoing() never
    // waits for the network.
    for (auto& packet : batch) {
      const uint64_t size = packet->size();
      if (send) send(std::move(packet));
      packetsSent_.fetch_add(1);
      bytesSent_.fetch_add(size);
    }
    // Released before locking: the callback's captures must never be
    // destroyed under our mutex.
    send = nullptr;
    batch.clear();

    lock.lock();
    if (!queue_.empty() && !stopped_) {
      clock_->waitUntil(lock, wake_, clock_->steadyNs() + kPassNs, [this] { return stopped_; });
    }
  }
}

} // namespace dravnok::remote
