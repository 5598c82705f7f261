#include "transport/ice_transport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using rtc::impl::IceTransport;

namespace {

// One side of a pair of ICE transports on this machine.
struct Side {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> candidates;
  bool gathered = false;
  bool connected = false;

  IceTransport::Callbacks callbacks() {
    IceTransport::Callbacks c;
    c.onCandidate = [this](std::string line) {
      std::lock_guard lock(mutex);
      candidates.push_back(line);
    };
    c.onGatheringDone = [this] {
      std::lock_guard lock(mutex);
      gathered = true;
      changed.notify_all();
    };
    c.onState = [this](IceTransport::State state) {
      std::lock_guard lock(mutex);
      if (state == IceTransport::State::Connected) connected = true;
      changed.notify_all();
    };
    return c;
  }
  template <typename P> bool waitFor(P predicate) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, predicate);
  }
};

void introduce(IceTransport& to, IceTransport& from, Side& fromSide) {
  to.setRemoteCredentials(from.localUfrag(), from.localPwd());
  std::lock_guard lock(fromSide.mutex);
  for (const auto& line : fromSide.candidates) to.addRemoteCandidate(line);
  to.remoteGatheringDone();
}

} // namespace

// A burst of datagrams that takes a second to handle must not keep the ICE
// loop from its timers: consent checks and retransmissions run on them, and
// a connection whose timers stall during a long transfer fails.
TEST(IceTransport, TimersKeepRunningWhileABurstOfDatagramsIsHandled) {
  constexpr int kBurst = 1000;
  std::atomic<int> handled{0};
  std::atomic<int> ticksDuringBurst{0};

  Side receiverSide, senderSide;
  auto receiverCallbacks = receiverSide.callbacks();
  receiverCallbacks.onPacket = [&](const uint8_t*, size_t) {
    std::this_thread::sleep_for(1ms); // handling a datagram costs time
    handled.fetch_add(1);
  };
  receiverCallbacks.onTick = [&] {
    int h = handled.load();
    if (h > 0 && h < kBurst) ticksDuringBurst.fetch_add(1);
  };
  IceTransport receiver(rtc::Configuration{}, false, receiverCallbacks);
  IceTransport sender(rtc::Configuration{}, true, senderSide.callbacks());
  receiver.gather();
  sender.gather();
  ASSERT_TRUE(receiverSide.waitFor([&] { return receiverSide.gathered; }));
  ASSERT_TRUE(senderSide.waitFor([&] { return senderSide.gathered; }));
  introduce(receiver, sender, senderSide);
  introduce(sender, receiver, receiverSide);
  ASSERT_TRUE(receiverSide.waitFor([&] { return receiverSide.connected; }));
  ASSERT_TRUE(senderSide.waitFor([&] { return senderSide.connected; }));

  std::vector<uint8_t> datagram(1000, 0x17); // looks like DTLS application data
  for (int i = 0; i < kBurst; ++i) sender.send(datagram.data(), datagram.size());

  for (int i = 0; i < 300 && handled.load() < kBurst; ++i) std::this_thread::sleep_for(100ms);
  sender.stop();
  receiver.stop();
  ASSERT_EQ(handled.load(), kBurst);
  EXPECT_GT(ticksDuringBurst.load(), 0);
}
