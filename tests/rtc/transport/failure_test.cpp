#include "rtc/transport/loopback_pair.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using State = rtc::PeerConnection::State;
using rtc_test::LoopbackPair;

namespace {

bool finalState(State s) { return s == State::Failed || s == State::Closed; }

const std::string kCredentials = "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n";
const std::string kSession = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nt=0 0\r\n";

rtc::binary pattern(size_t size, unsigned seed) {
  rtc::binary data(size);
  std::mt19937 gen(seed);
  for (auto& b : data) b = std::byte(gen());
  return data;
}

} // namespace

TEST(Failure, BadOffersThrowAndLeaveTheConnectionUsable) {
  LoopbackPair pair;
  const std::pair<std::string, const char*> offers[] = {
      {kSession + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\na=mid:0\r\n" + kCredentials, "fingerprint"},
      {kSession + kCredentials + "a=fingerprint:sha-256 AB:CD\r\nm=text 9 TCP/MSRP *\r\na=mid:0\r\n", ""}};
  for (const auto& [sdp, word] : offers)
    EXPECT_THAT([&] { pair.answerer->setRemoteDescription(rtc::Description(sdp, "offer")); },
                testing::ThrowsMessage<std::invalid_argument>(testing::HasSubstr(word)));
  EXPECT_THROW(pair.answerer->addRemoteCandidate(rtc::Candidate("candidate:1 1 udp 1 192.0.2.1 9 typ host")),
               std::logic_error);
  // The same connection still answers a proper offer and connects.
  std::shared_ptr<rtc::DataChannel> remote; // the application keeps what it is handed
  pair.connect(remote);
}

TEST(Failure, FingerprintMismatchFailsTheHandshake) {
  LoopbackPair pair;
  pair.offerer->onLocalDescription([&](rtc::Description d) {
    std::string sdp = d;
    size_t at = sdp.find("a=fingerprint:sha-256 ") + 22;
    sdp[at] = sdp[at] == 'A' ? 'B' : 'A';
    pair.answerer->setRemoteDescription(rtc::Description(sdp, "offer"));
  });
  auto channel = pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  EXPECT_TRUE(
      pair.waiter.waitFor([&] { return finalState(pair.offererState) && finalState(pair.answererState); }, 40s));
  EXPECT_NE(pair.answererState, State::Connected);
}

// A channel closed by close() or by the application dropping its last
// reference (the connection holds channels weakly) closes at the peer, and the
// connection lives on; a closed connection also closes the peer's.
TEST(Failure, ClosingAChannelOrTheConnectionReachesThePeer) {
  enum How { CloseChannel, DropChannel, CloseConnection };
  for (How how : {CloseChannel, DropChannel, CloseConnection}) {
    LoopbackPair pair;
    std::shared_ptr<rtc::DataChannel> remote;
    bool remoteClosed = false;
    auto channel = pair.connect(remote);
    remote->onClosed([&] { pair.waiter.update([&] { remoteClosed = true; }); });
    if (how == CloseChannel) {
      channel->close();
      EXPECT_THROW(channel->send(std::string("late")), std::runtime_error);
    }
    if (how == DropChannel) channel.reset();
    if (how == CloseConnection) pair.offerer->close();
    EXPECT_TRUE(pair.waiter.waitFor([&] { return remoteClosed; })) << how;
    // Only a closed connection ends the peer's too.
    EXPECT_TRUE(how == CloseConnection ? pair.waiter.waitFor([&] { return finalState(pair.answererState); })
                                       : pair.offerer->state() == State::Connected)
        << how;
  }
}

TEST(Failure, DestroyingAConnectionInsideItsOwnCallbackDoesNotHang) {
  LoopbackPair pair;
  bool destroyed = false;
  pair.answerer->onStateChange([&](State s) {
    if (s != State::Connected) return;
    pair.answerer.reset(); // the last reference, from its own callback thread
    pair.waiter.update([&] { destroyed = true; });
  });
  pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  // Done with it, and its peer notices that it is gone.
  EXPECT_TRUE(pair.waiter.waitFor([&] { return destroyed && finalState(pair.offererState); }, 40s));
}

// A browser's video offer answered by a connection set up the way the
// session does it (track and handler first): the offered playout-delay
// mapping reaches the answer and the packetizer (what is answered and stamped
// is the header extensions' own business). An offer again (renegotiation) is
// answered under the same session id, one version on. Closing right after
// answering (the network thread just started) used to hang now and then: the
// thread had not entered its loop yet and missed the request to leave it.
TEST(Failure, AnsweringAVideoOfferTakesUpPlayoutDelayAndClosingRightAfterReturns) {
  const std::string extmap = "a=extmap:5 http://www.webrtc.org/experiments/rtp-hdrext/playout-delay\r\n";
  const rtc::Description offer(kSession + "m=video 9 UDP/TLS/RTP/SAVPF 102\r\nc=IN IP4 0.0.0.0\r\n" + kCredentials +
                                   "a=fingerprint:sha-256 AB:CD:EF\r\na=setup:actpass\r\na=mid:0\r\na=recvonly\r\n" +
                                   extmap + "a=rtpmap:102 H264/90000\r\n",
                               "offer");
  for (int i = 0; i < 50; ++i) {
    auto pc = std::make_shared<rtc::PeerConnection>();
    rtc::Description::Video video("0", rtc::Description::Direction::SendOnly);
    video.addH264Codec(102);
    auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "cname", 102, 90000);
    auto packetizer = std::make_shared<rtc::H264RtpPacketizer>(rtc::NalUnit::Separator::LongStartSequence, config);
    pc->addTrack(video)->setMediaHandler(packetizer);
    pc->setRemoteDescription(offer);
    if (i == 0) { // up to the o= line, with the version one up
      std::string first = pc->localDescription().value();
      pc->setRemoteDescription(offer);
      const std::string again = pc->localDescription().value();
      first.replace(first.find(" 0 IN "), 3, " 1 ");
      EXPECT_EQ(again.substr(0, again.find("s=")), first.substr(0, first.find("s=")));
    }
    pc->close();
    EXPECT_NE(std::string(pc->localDescription().value()).find(extmap), std::string::npos);
    rtc::message_vector messages{
        rtc::make_message(rtc::binary{std::byte{0}, std::byte{0}, std::byte{1}, std::byte{0x65}})};
    packetizer->outgoing(messages, nullptr);
    EXPECT_EQ(messages.at(0)->at(0), std::byte{0x90}); // the extension bit
  }
}

// An application callback that throws costs its own event only: the process
// and the connection go on. Empty messages (sent as one octet under their own
// payload identifiers) arrive empty.
TEST(Failure, AThrowingCallbackLosesOnlyItsOwnEvent) {
  LoopbackPair pair;
  std::vector<rtc::message_variant> messages;
  std::shared_ptr<rtc::DataChannel> remote;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onMessage([&](rtc::message_variant m) {
      if (m == rtc::message_variant(std::string("throw"))) throw std::runtime_error("the application's fault");
      pair.waiter.update([&] { messages.push_back(std::move(m)); });
    });
    pair.waiter.update([&] { remote = dc; });
    throw std::logic_error("also after taking the channel");
  });
  auto channel = pair.offerer->createDataChannel("input");
  bool isOpen = false;
  channel->onOpen([&] {
    pair.waiter.update([&] { isOpen = true; });
    throw 42;
  });
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(pair.waiter.waitFor([&] { return isOpen; }));
  const std::vector<rtc::message_variant> sent = {std::string(), rtc::binary(), std::string("after")};
  channel->send(std::string("throw"));
  for (const auto& m : sent) channel->send(m);
  ASSERT_TRUE(pair.waiter.waitFor([&] { return messages.size() == sent.size(); }));
  std::lock_guard lock(pair.waiter.mutex());
  EXPECT_TRUE(messages == sent);
  EXPECT_EQ(pair.offererState, State::Connected);
}

// A sender far faster than the receiving application: what is on its way
// (in SCTP's buffers and waiting for the application) stays bounded because
// the receiver stops reading and its window closes, and nothing is lost or
// reordered for it.
TEST(Loopback, AFloodIntoASlowReceiverStaysBoundedAndArrivesWhole) {
  constexpr size_t kMessage = 64 * 1024;
  constexpr uint32_t kCount = 1024; // 64 MiB
  LoopbackPair pair;
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
    EXPECT_TRUE(sentAtOnce || (i > 0 && channel->bufferedAmount() > 0)) << i;
    queued += !sentAtOnce;
  }
  EXPECT_GT(queued, 0u);
  ASSERT_TRUE(pair.waiter.waitFor([&] { return received == kCount; }, 120s));
  std::lock_guard lock(pair.waiter.mutex());
  EXPECT_EQ(faults, 0u);
  // Send buffer (4 MiB) + receive window (1 MiB) + what waits for the
  // handler (4 MiB): far less than the 64 MiB flood.
  EXPECT_LT(mostInFlight, size_t(12) * 1024 * 1024);
}
