#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using rtc::PeerConnection;
using rtc_test::LoopbackPair;
using rtc_test::Waiter;

namespace {

rtc::binary pattern(size_t size, unsigned seed) {
  rtc::binary data(size);
  std::mt19937 gen(seed);
  for (auto& b : data) b = std::byte(gen());
  return data;
}

// A channel and everything it receives.
struct Receiver {
  Waiter waiter;
  std::shared_ptr<rtc::DataChannel> channel;
  std::vector<rtc::message_variant> messages;
  bool opened = false;

  void attach(const std::shared_ptr<rtc::DataChannel>& dc) {
    dc->onOpen([this] { waiter.update([&] { opened = true; }); });
    dc->onMessage([this](rtc::message_variant m) { waiter.update([&] { messages.push_back(std::move(m)); }); });
    waiter.update([&] { channel = dc; });
  }
};

} // namespace

TEST(Loopback, ConnectsAndCarriesMessagesBothWaysInOrder) {
  LoopbackPair pair;
  Receiver atAnswerer, atOfferer;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) { atAnswerer.attach(dc); });
  atOfferer.attach(pair.offerer->createDataChannel("input"));
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(pair.waitBoth(PeerConnection::State::Connected));
  for (auto* r : {&atOfferer, &atAnswerer}) ASSERT_TRUE(r->waiter.waitFor([&] { return r->channel && r->opened; }));
  EXPECT_EQ(atAnswerer.channel->label(), "input");

  // Sends throw on failure; false only says a message waits behind others.
  std::vector<rtc::message_variant> toAnswerer, toOfferer;
  unsigned seed = 0;
  for (size_t size : {1, 2, 1000, 1200, 4096, 65535, 65536, 100000, 262144}) {
    toAnswerer.push_back(pattern(size, ++seed));
    toOfferer.push_back(pattern(size, ++seed));
  }
  toAnswerer.insert(toAnswerer.end(), {std::string("hello"), std::string(), rtc::binary()});
  for (const auto& m : toAnswerer) atOfferer.channel->send(m);
  for (const auto& m : toOfferer) atAnswerer.channel->send(m);
  for (auto [r, sent] : {std::pair{&atAnswerer, &toAnswerer}, std::pair{&atOfferer, &toOfferer}}) {
    ASSERT_TRUE(r->waiter.waitFor([&] { return r->messages.size() == sent->size(); }));
    std::lock_guard lock(r->waiter.mutex());
    EXPECT_TRUE(r->messages == *sent);
  }
}

// A sender far faster than the receiving application: what is on its way
// (in SCTP's buffers and waiting for the application) stays bounded because
// the receiver stops reading and its window closes, and nothing is lost or
// reordered for it.
TEST(Loopback, AFloodIntoASlowReceiverStaysBoundedAndArrivesWhole) {
  constexpr size_t kMessage = 64 * 1024;
  constexpr uint32_t kCount = 1024; // 64 MiB
  LoopbackPair pair;
  std::shared_ptr<rtc::DataChannel> incoming;
  Waiter waiter;
  std::shared_ptr<rtc::DataChannel> channel;
  std::atomic<uint64_t> sentBytes{0};
  uint32_t received = 0;
  uint32_t faults = 0;
  size_t mostInFlight = 0;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onMessage([&](rtc::message_variant m) {
      std::this_thread::sleep_for(3ms); // the application is slow
      const auto* data = std::get_if<rtc::binary>(&m);
      waiter.update([&] {
        if (!data || data->size() != kMessage || *data != pattern(kMessage, received)) ++faults;
        ++received;
        // Handed to our layer, not yet to this handler.
        size_t inFlight = size_t(sentBytes.load() - channel->bufferedAmount() - uint64_t(received) * kMessage);
        mostInFlight = std::max(mostInFlight, inFlight);
      });
    });
    waiter.update([&] { incoming = dc; });
  });
  channel = pair.offerer->createDataChannel("files");
  bool open = false;
  channel->onOpen([&] { waiter.update([&] { open = true; }); });
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(waiter.waitFor([&] { return open && incoming; }));

  // The first message leaves at once; once the send buffer is full, the
  // rest wait behind it and say so.
  uint32_t queued = 0;
  for (uint32_t i = 0; i < kCount; ++i) {
    sentBytes += kMessage;
    const bool sentAtOnce = channel->send(pattern(kMessage, i));
    if (i == 0) {
      EXPECT_TRUE(sentAtOnce);
    }
    if (!sentAtOnce) {
      ++queued;
      EXPECT_GT(channel->bufferedAmount(), 0u);
    }
  }
  EXPECT_GT(queued, 0u);
  ASSERT_TRUE(waiter.waitFor([&] { return received == kCount; }, 120s));
  std::lock_guard lock(waiter.mutex());
  EXPECT_EQ(faults, 0u);
  // Send buffer (4 MiB) + receive window (1 MiB) + what waits for the
  // handler (4 MiB): far less than the 64 MiB flood.
  EXPECT_LT(mostInFlight, size_t(12) * 1024 * 1024);
}
