#include "transport/ice_transport.hpp"

#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using rtc::impl::IceTransport;

namespace {

// One of a pair of ICE transports on this machine, and what it reported.
struct Side {
  explicit Side(bool controlling, std::function<void(const uint8_t*, size_t)> onPacket = {},
                std::function<void()> onTick = {})
      : ice(rtc::Configuration{}, controlling, callbacks(std::move(onPacket), std::move(onTick))) {}

  IceTransport::Callbacks callbacks(std::function<void(const uint8_t*, size_t)> onPacket,
                                    std::function<void()> onTick) {
    IceTransport::Callbacks c{.onPacket = std::move(onPacket), .onTick = std::move(onTick)};
    c.onCandidate = [this](std::string line) { w.update([&] { candidates.push_back(line); }); };
    c.onGatheringDone = [this] { w.update([&] { gathered = true; }); };
    c.onState = [this](IceTransport::State state) {
      w.update([&] {
        connected |= state == IceTransport::State::Connected;
        failed |= state == IceTransport::State::Failed;
      });
    };
    return c;
  }

  rtc_test::Waiter w;
  std::vector<std::string> candidates;
  bool gathered = false, connected = false, failed = false;
  IceTransport ice; // last: its thread reports to the members above
};

// Gathers on both sides, hands each the other's candidates and waits until
// both are connected.
bool connectPair(Side& a, Side& b) {
  a.ice.gather();
  b.ice.gather();
  if (!a.w.waitFor([&] { return a.gathered; }) || !b.w.waitFor([&] { return b.gathered; })) return false;
  for (auto [to, from] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
    to->ice.setRemoteCredentials(from->ice.localUfrag(), from->ice.localPwd());
    std::lock_guard lock(from->w.mutex());
    for (const auto& line : from->candidates) to->ice.addRemoteCandidate(line);
    to->ice.remoteGatheringDone();
  }
  return a.w.waitFor([&] { return a.connected; }) && b.w.waitFor([&] { return b.connected; });
}

} // namespace

// A peer that gives its credentials but never a candidate must not leave ICE
// connecting for ever.
TEST(IceTransport, FailsWhenNothingConnectsInTime) {
  Side side(false);
  side.ice.setConnectTimeout(1s);
  side.ice.gather();
  side.ice.setRemoteCredentials("abcd", "0123456789abcdefghijkl");
  EXPECT_TRUE(side.w.waitFor([&] { return side.failed; }));
}

// Answers sent while the loop handles received datagrams are held back and
// leave together. None may be left behind when the traffic stops, and none
// may overtake another: DTLS numbers its records as it sends them (under its
// lock, from any thread) and drops those that arrive far out of order. And a
// burst that takes long to handle must not keep the loop from its timers:
// consent checks and retransmissions run on them, and a connection whose
// timers stall during a long transfer fails.
TEST(IceTransport, AnswersLeaveInOrderAndTimersRunWhileABurstIsHandled) {
  constexpr uint32_t kEach = 400;
  std::mutex sendMutex; // stands for DTLS's lock
  uint32_t nextNumber = 0;
  std::atomic<uint32_t> handled{0}, ticksDuringBurst{0};
  rtc_test::Waiter w;
  std::vector<uint32_t> arrivals; // record numbers as they arrived

  // Looks like DTLS application data, numbered from octet 2.
  auto sendNumbered = [&](IceTransport& transport) {
    std::vector<uint8_t> d(600, 0x17);
    std::lock_guard lock(sendMutex);
    std::memcpy(&d[2], &nextNumber, 4);
    ++nextNumber;
    transport.send(d.data(), d.size());
  };
  Side answerer(
      false,
      [&](const uint8_t*, size_t) {
        sendNumbered(answerer.ice);
        std::this_thread::sleep_for(1ms); // handling takes time: passes hold many answers
        handled.fetch_add(1);
      },
      [&] {
        if (uint32_t h = handled.load(); h > 1 && h < kEach + 1) ticksDuringBurst.fetch_add(1);
      });
  Side asker(true, [&](const uint8_t* data, size_t size) {
    uint32_t number = 0;
    if (size >= 6) std::memcpy(&number, data + 2, 4);
    w.update([&] { arrivals.push_back(number); });
  });
  ASSERT_TRUE(connectPair(answerer, asker));

  std::vector<uint8_t> question(600, 0x17);
  // A single question is answered although nothing follows it.
  asker.ice.send(question.data(), question.size());
  ASSERT_TRUE(w.waitFor([&] { return arrivals.size() == 1; }, 5s));

  std::thread other([&] {
    for (uint32_t i = 0; i < kEach; ++i) {
      sendNumbered(answerer.ice);
      if (i % 40 == 0) std::this_thread::sleep_for(1ms);
    }
  });
  for (uint32_t i = 0; i < kEach; ++i) asker.ice.send(question.data(), question.size());
  other.join();
  w.waitFor([&] { return arrivals.size() == 2 * kEach + 1; }, 30s);
  asker.ice.stop();
  answerer.ice.stop();
  std::vector<uint32_t> expected(2 * kEach + 1);
  std::iota(expected.begin(), expected.end(), 0u);
  std::lock_guard lock(w.mutex());
  EXPECT_EQ(arrivals, expected);
  EXPECT_GT(ticksDuringBurst.load(), 0u);
}

// Stopping while received datagrams still wait for the loop (a connection
// closed in the middle of a transfer) drops them and ends cleanly, however
// the stop falls between the loop's passes.
TEST(IceTransport, StopsCleanlyInTheMiddleOfATransfer) {
  for (int round = 0; round < 5; ++round) {
    std::atomic<int> handled{0};
    Side receiver(false, [&](const uint8_t* data, size_t size) {
      receiver.ice.send(data, size); // answers are held during a pass
      handled.fetch_add(1);
    });
    Side sender(true);
    ASSERT_TRUE(connectPair(receiver, sender));

    std::atomic<bool> flooding{true};
    std::thread flood([&] {
      std::vector<uint8_t> datagram(1000, 0x17);
      while (flooding) {
        for (int i = 0; i < 32; ++i) sender.ice.send(datagram.data(), datagram.size());
        std::this_thread::yield();
      }
    });
    for (int i = 0; i < 200 && handled.load() < 2000; ++i) std::this_thread::sleep_for(5ms);
    const auto start = std::chrono::steady_clock::now();
    receiver.ice.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s); // a hang, not a speed check
    flooding = false;
    flood.join();
    EXPECT_GT(handled.load(), 0);
  }
}
