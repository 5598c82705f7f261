#pragma once
// Two of our own peer connections wired to each other in one process:
// descriptions and candidates are handed over directly.
#include <rtc/rtc.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
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
  using State = rtc::PeerConnection::State;

  explicit LoopbackPair(rtc::Configuration config = {})
      : offerer(std::make_shared<rtc::PeerConnection>(config)),
        answerer(std::make_shared<rtc::PeerConnection>(config)) {
    for (auto [from, to] : {std::pair{offerer, answerer}, std::pair{answerer, offerer}}) {
      std::weak_ptr<rtc::PeerConnection> other = to;
      from->onLocalDescription([other](rtc::Description d) {
        if (auto pc = other.lock()) pc->setRemoteDescription(d);
      });
      // Each side's callbacks come in order, so its description is there
      // before its candidates.
      from->onLocalCandidate([other](rtc::Candidate c) {
        try {
          if (auto pc = other.lock()) pc->addRemoteCandidate(c);
        } catch (const std::exception&) { // a side that has failed or closed
        }
      });
    }
    offerer->onStateChange([this](State s) { waiter.update([&] { offererState = s; }); });
    answerer->onStateChange([this](State s) { waiter.update([&] { answererState = s; }); });
  }

  // The peers report their last state change while they close; `waiter`
  // must still exist then, so they close before the members go.
  ~LoopbackPair() {
    if (offerer) offerer->close();
    if (answerer) answerer->close();
  }

  // Connects with a "files" channel; returns the offerer's end once it is
  // open and the answerer's end is in `remote`.
  std::shared_ptr<rtc::DataChannel> connect(std::shared_ptr<rtc::DataChannel>& remote) {
    answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) { waiter.update([&] { remote = dc; }); });
    auto channel = offerer->createDataChannel("files");
    channel->onOpen([this] { waiter.update([] {}); });
    offerer->setLocalDescription();
    EXPECT_TRUE(waiter.waitFor([&] {
      return offererState == State::Connected && answererState == State::Connected && remote && channel->isOpen();
    }));
    return channel;
  }

  std::shared_ptr<rtc::PeerConnection> offerer;
  std::shared_ptr<rtc::PeerConnection> answerer;
  Waiter waiter;
  State offererState = State::New;
  State answererState = State::New;
};

} // namespace rtc_test
