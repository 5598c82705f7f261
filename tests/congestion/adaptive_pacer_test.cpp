#include "congestion/adaptive_pacer.h"

#include "congestion/manual_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

namespace dravnok::remote {
namespace {

using testing::ManualClock;

constexpr int64_t kMs = 1'000'000;

rtc::message_ptr rtp(int id, size_t size = 1200) {
  auto message = rtc::make_message(size, rtc::Message::Binary);
  (*message)[0] = static_cast<std::byte>(id >> 8);
  (*message)[1] = static_cast<std::byte>(id & 0xFF);
  return message;
}

int idOf(const rtc::message_ptr& message) {
  return std::to_integer<int>((*message)[0]) << 8 | std::to_integer<int>((*message)[1]);
}

rtc::message_vector burst(int count, int firstId = 0) {
  rtc::message_vector out;
  for (int i = 0; i < count; ++i) out.push_back(rtp(firstId + i));
  return out;
}

void waitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(condition());
}

// What reached the network side, stamped with the pacer's clock.
class Network {
public:
  explicit Network(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

  rtc::message_callback callback() {
    return [this](rtc::message_ptr packet) {
      std::lock_guard lock(mutex_);
      arrivals_.push_back({clock_->steadyNs(), packet->size(), idOf(packet)});
    };
  }

  struct Arrival {
    int64_t ns;
    size_t size;
    int id;
  };

  std::vector<Arrival> arrivals() {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

  size_t count() {
    std::lock_guard lock(mutex_);
    return arrivals_.size();
  }

private:
  std::shared_ptr<Clock> clock_;
  std::mutex mutex_;
  std::vector<Arrival> arrivals_;
};

size_t largestWindow(const std::vector<Network::Arrival>& arrivals, int64_t windowNs) {
  size_t largest = 0;
  for (const auto& from : arrivals) {
    size_t sum = 0;
    for (const auto& other : arrivals) {
      if (other.ns >= from.ns && other.ns < from.ns + windowNs) sum += other.size;
    }
    largest = std::max(largest, sum);
  }
  return largest;
}

size_t largestInstant(const std::vector<Network::Arrival>& arrivals) { return largestWindow(arrivals, 1); }

class AdaptivePacerTest : public ::testing::Test {
protected:
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  Network network{clock};
  const int64_t startNs = clock->steadyNs();
};

TEST_F(AdaptivePacerTest, DrainsAKeyframeAtTheRateInOrderWhileControlPassesAtOnce) {
  AdaptivePacer pacer(4'000'000, clock);
  rtc::message_vector messages = burst(100);
  auto control = rtc::make_message(40, rtc::Message::Control);
  auto text = rtc::make_message(10, rtc::Message::String);
  messages.push_back(control);
  for (auto& m : burst(70, 100)) messages.push_back(m);
  messages.push_back(text);

  pacer.outgoing(messages, network.callback());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], control);
  EXPECT_EQ(messages[1], text);

  waitFor([&] { return network.count() == 170; });
  const auto arrivals = network.arrivals();
  for (int i = 0; i < 170; ++i) ASSERT_EQ(arrivals[i].id, i);
  // 204 000 bytes at 500 000 bytes per second.
  const double tookMs = (arrivals.back().ns - startNs) / 1e6;
  EXPECT_GE(tookMs, 404);
  EXPECT_LE(tookMs, 412);
  EXPECT_LE(largestWindow(arrivals, 10 * kMs), 5000u + 1200);
  EXPECT_EQ(pacer.packetsSent(), 170u);
  EXPECT_EQ(pacer.bytesSent(), 204'000u);
  EXPECT_EQ(pacer.queuedBytes(), 0u);
}

TEST_F(AdaptivePacerTest, ALateWorkerReleasesNoMoreThanTheBurstCapPlusOnePacket) {
  clock->lateNextWait(100);
  AdaptivePacer pacer(4'000'000, clock);
  rtc::message_vector messages = burst(40);
  pacer.outgoing(messages, network.callback());
  waitFor([&] { return network.count() == 40; });
  EXPECT_EQ(largestInstant(network.arrivals()), 9u * 1200); // 20 ms worth is 10 000 bytes

  // At a low rate the cap is still two full-size packets.
  auto slowClock = std::make_shared<ManualClock>();
  Network slowNetwork(slowClock);
  slowClock->lateNextWait(1000);
  AdaptivePacer slow(100'000, slowClock);
  EXPECT_EQ(slow.rateBps(), AdaptivePacer::kMinRateBps);
  messages = burst(10);
  slow.outgoing(messages, slowNetwork.callback());
  waitFor([&] { return slowNetwork.count() == 10; });
  EXPECT_EQ(largestInstant(slowNetwork.arrivals()), 3u * 1200);
}

TEST_F(AdaptivePacerTest, IdleTimeEarnsNoCreditAndALonePacketLeavesAtOnce) {
  AdaptivePacer pacer(4'000'000, clock);
  rtc::message_vector messages = burst(1);
  pacer.outgoing(messages, network.callback());
  waitFor([&] { return network.count() == 1; });

  clock->advanceMs(50);
  const int64_t handedOver = clock->steadyNs();
  messages = burst(1, 1);
  pacer.outgoing(messages, network.callback());
  waitFor([&] { return network.count() == 2; });
  EXPECT_LE(network.arrivals()[1].ns - handedOver, 2 * kMs);

  clock->advanceMs(50);
  messages = burst(20, 2);
  pacer.outgoing(messages, network.callback());
  waitFor([&] { return network.count() == 22; });
  auto arrivals = network.arrivals();
  arrivals.erase(arrivals.begin(), arrivals.begin() + 2);
  EXPECT_EQ(largestInstant(arrivals), 1200u); // not 50 ms worth at once
}

TEST_F(AdaptivePacerTest, ARateChangeTakesEffectAtTheNextPass) {
  std::shared_ptr<AdaptivePacer> pacer;
  std::atomic<bool> changed{false};
  clock->onWait([&](int64_t now) {
    if (now >= startNs + 100 * kMs && !changed.exchange(true)) pacer->setRate(8'000'000);
  });
  pacer = std::make_shared<AdaptivePacer>(4'000'000, clock);
  rtc::message_vector messages = burst(170);
  pacer->outgoing(messages, network.callback());
  waitFor([&] { return network.count() == 170; });
  // About 50 000 bytes in the first 100 ms, the other 154 000 at twice the rate.
  const double tookMs = (network.arrivals().back().ns - startNs) / 1e6;
  EXPECT_GE(tookMs, 250);
  EXPECT_LE(tookMs, 260);
  pacer->stop();
}

TEST(AdaptivePacerStop, DropsTheQueueReleasesTheCallbackAndPassesEverythingAfterwards) {
  AdaptivePacer pacer(200'000); // 25 000 bytes a second: the queue outlives the test
  auto token = std::make_shared<int>(0);
  std::atomic<int> delivered{0};
  rtc::message_vector messages = burst(100);
  pacer.outgoing(messages, [token, &delivered](rtc::message_ptr) { ++delivered; });
  waitFor([&] { return delivered.load() >= 1; });
  EXPECT_GT(pacer.queuedBytes(), 0u);

  pacer.stop();
  const int atStop = delivered.load();
  EXPECT_EQ(pacer.queuedBytes(), 0u);
  EXPECT_EQ(token.use_count(), 1); // no reference to the transport is kept

  messages = burst(3);
  messages.push_back(rtc::make_message(40, rtc::Message::Control));
  pacer.outgoing(messages, [](rtc::message_ptr) { FAIL() << "nothing is paced after stop"; });
  EXPECT_EQ(messages.size(), 4u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(delivered.load(), atStop);
  pacer.stop();
}

TEST(AdaptivePacerStop, MayBeCalledFromTheSendCallback) {
  auto pacer = std::make_shared<AdaptivePacer>(8'000'000);
  std::atomic<bool> calling{false};
  std::atomic<bool> stopped{false};
  rtc::message_vector messages = burst(50);
  pacer->outgoing(messages, [&](rtc::message_ptr) {
    // The flag goes up only once stop() has returned, so the check below
    // never races the stop itself.
    if (!calling.exchange(true)) {
      pacer->stop();
      stopped = true;
    }
  });
  waitFor([&] { return stopped.load(); });
  EXPECT_EQ(pacer->queuedBytes(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let the worker leave
}

TEST(AdaptivePacerThreads, ProducersRateChangesAndStopMeetSafely) {
  AdaptivePacer pacer(8'000'000);
  std::atomic<uint64_t> delivered{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> producers;
  for (int p = 0; p < 2; ++p) {
    producers.emplace_back([&] {
      while (!done) {
        rtc::message_vector messages = burst(5);
        pacer.outgoing(messages, [&](rtc::message_ptr) { ++delivered; });
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  std::thread rates([&] {
    for (uint32_t r = 1'000'000; !done; r = r % 9'000'000 + 1'000'000) {
      pacer.setRate(r);
      (void)pacer.queuedBytes();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  waitFor([&] { return delivered.load() >= 50; });
  pacer.stop();
  done = true;
  for (auto& t : producers) t.join();
  rates.join();
  EXPECT_EQ(pacer.queuedBytes(), 0u);
  EXPECT_EQ(pacer.packetsSent(), delivered.load());
}

} // namespace
} // namespace dravnok::remote
