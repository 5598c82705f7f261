#pragma once
// Two of our own peer connections wired to each other in one process:
// descriptions and candidates are handed over directly.
#include <rtc/rtc.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace rtc_test {

// Waits for a condition that callbacks on other threads make true.
class Waiter {
public:
  template <typename F> void update(F&& f) {
    {
      std::lock_guard lock(mutex_);
      f();
    }
    cv_.notify_all();
  }
  template <typename P> bool waitFor(P&& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, predicate);
  }
  std::mutex& mutex() { return mutex_; }

private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

struct LoopbackPair {
  explicit LoopbackPair(rtc::Configuration config = {})
      : offerer(std::make_shared<rtc::PeerConnection>(config)),
        answerer(std::make_shared<rtc::PeerConnection>(config)) {
    std::weak_ptr<rtc::PeerConnection> weakOfferer = offerer;
    std::weak_ptr<rtc::PeerConnection> weakAnswerer = answerer;
    offerer->onLocalDescription([weakAnswerer](rtc::Description d) {
      if (auto a = weakAnswerer.lock()) a->setRemoteDescription(d);
    });
    answerer->onLocalDescription([weakOfferer](rtc::Description d) {
      if (auto o = weakOfferer.lock()) o->setRemoteDescription(d);
    });
    // Candidates may come before the other side has its remote description.
    offerer->onLocalCandidate([weakAnswerer](rtc::Candidate c) {
      if (auto a = weakAnswerer.lock()) addWhenReady(a, c);
    });
    answerer->onLocalCandidate([weakOfferer](rtc::Candidate c) {
      if (auto o = weakOfferer.lock()) addWhenReady(o, c);
    });
    offerer->onStateChange([this](rtc::PeerConnection::State s) { states.update([&] { offererState = s; }); });
    answerer->onStateChange([this](rtc::PeerConnection::State s) { states.update([&] { answererState = s; }); });
  }

  // The peers report their last state change while they close; `states`
  // must still exist then, so they close before the members go.
  ~LoopbackPair() {
    if (offerer) offerer->close();
    if (answerer) answerer->close();
  }
  LoopbackPair(const LoopbackPair&) = delete;
  LoopbackPair& operator=(const LoopbackPair&) = delete;

  static void addWhenReady(const std::shared_ptr<rtc::PeerConnection>& pc, const rtc::Candidate& c) {
    for (int i = 0; i < 200 && !pc->remoteDescription(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    try {
      pc->addRemoteCandidate(c);
    } catch (const std::exception&) {
    }
  }

  bool waitBoth(rtc::PeerConnection::State s, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return states.waitFor([&] { return offererState == s && answererState == s; }, timeout);
  }

  std::shared_ptr<rtc::PeerConnection> offerer;
  std::shared_ptr<rtc::PeerConnection> answerer;
  Waiter states;
  rtc::PeerConnection::State offererState = rtc::PeerConnection::State::New;
  rtc::PeerConnection::State answererState = rtc::PeerConnection::State::New;
};

} // namespace rtc_test
