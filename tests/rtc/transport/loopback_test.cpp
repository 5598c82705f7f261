#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

rtc::binary pattern(size_t size, unsigned seed) {
  rtc::binary data(size);
  std::mt19937 gen(seed);
  for (auto& b : data) b = std::byte(gen());
  return data;
}

} // namespace

// A sender far faster than the receiving application: what is on its way
// (in SCTP's buffers and waiting for the application) stays bounded because
// the receiver stops reading and its window closes, and nothing is lost or
// reordered for it.
TEST(Loopback, AFloodIntoASlowReceiverStaysBoundedAndArrivesWhole) {
  constexpr size_t kMessage = 64 * 1024;
  constexpr uint32_t kCount = 1024; // 64 MiB
  rtc_test::LoopbackPair pair;
  std::shared_ptr<rtc::DataChannel> remote;
  auto channel = pair.connect(remote);
  std::atomic<uint64_t> sentBytes{0};
  uint32_t received = 0, faults = 0;
  size_t mostInFlight = 0;
  remote->onMessage([&](rtc::message_variant m) {
    std::this_thread::sleep_for(3ms); // the application is slow
    const auto* data = std::get_if<rtc::binary>(&m);
    pair.waiter.update([&] {
      if (!data || *data != pattern(kMessage, received)) ++faults;
      ++received;
      // Handed to our layer, not yet to this handler.
      size_t inFlight = size_t(sentBytes.load() - channel->bufferedAmount() - uint64_t(received) * kMessage);
      mostInFlight = std::max(mostInFlight, inFlight);
    });
  });

  // The first message leaves at once; once the send buffer is full, the
  // rest wait behind it and say so.
  uint32_t queued = 0;
  for (uint32_t i = 0; i < kCount; ++i) {
    sentBytes += kMessage;
    const bool sentAtOnce = channel->send(pattern(kMessage, i));
    EXPECT_TRUE(sentAtOnce || i > 0);
    if (!sentAtOnce) {
      ++queued;
      EXPECT_GT(channel->bufferedAmount(), 0u);
    }
  }
  EXPECT_GT(queued, 0u);
  ASSERT_TRUE(pair.waiter.waitFor([&] { return received == kCount; }, 120s));
  std::lock_guard lock(pair.waiter.mutex());
  EXPECT_EQ(faults, 0u);
  // Send buffer (4 MiB) + receive window (1 MiB) + what waits for the
  // handler (4 MiB): far less than the 64 MiB flood.
  EXPECT_LT(mostInFlight, size_t(12) * 1024 * 1024);
}
