#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#define closesocket close
using SOCKET = int;
#endif

#include <random>
#include <thread>

using namespace std::chrono_literals;
using rtc::PeerConnection;
using State = rtc::PeerConnection::State;
using rtc_test::LoopbackPair;
using rtc_test::Waiter;

namespace {

bool finalState(State s) { return s == State::Failed || s == State::Closed; }

} // namespace

TEST(Failure, BadOffersThrowAndLeaveTheConnectionUsable) {
  LoopbackPair pair;
  EXPECT_THROW(pair.answerer->setRemoteDescription(rtc::Description("garbage", "offer")), std::invalid_argument);
  const std::string noFingerprint = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nt=0 0\r\n"
                                    "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\na=mid:0\r\n"
                                    "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n";
  try {
    pair.answerer->setRemoteDescription(rtc::Description(noFingerprint, "offer"));
    ADD_FAILURE() << "an offer without fingerprint was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("fingerprint"), std::string::npos);
  }
  const std::string onlyUnknown = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nt=0 0\r\n"
                                  "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n"
                                  "a=fingerprint:sha-256 AB:CD\r\nm=text 9 TCP/MSRP *\r\na=mid:0\r\n";
  EXPECT_THROW(pair.answerer->setRemoteDescription(rtc::Description(onlyUnknown, "offer")), std::invalid_argument);
  EXPECT_THROW(pair.answerer->addRemoteCandidate(rtc::Candidate("candidate:1 1 udp 1 192.0.2.1 9 typ host")),
               std::logic_error);

  // The same connection still answers a proper offer and connects.
  Waiter opened;
  bool isOpen = false;
  std::shared_ptr<rtc::DataChannel> remote; // the application keeps what it is handed
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onOpen([&] { opened.update([&] { isOpen = true; }); });
    opened.update([&] { remote = dc; });
  });
  auto channel = pair.offerer->createDataChannel("files");
  pair.offerer->setLocalDescription();
  EXPECT_TRUE(pair.waitBoth(State::Connected));
  EXPECT_TRUE(opened.waitFor([&] { return isOpen; }));
}

TEST(Failure, FingerprintMismatchFailsTheHandshake) {
  LoopbackPair pair;
  // Hand the answerer an offer whose fingerprint is not the offerer's.
  pair.offerer->onLocalDescription([&](rtc::Description d) {
    std::string sdp = d;
    size_t at = sdp.find("a=fingerprint:sha-256 ") + 22;
    sdp[at] = sdp[at] == 'A' ? 'B' : 'A';
    pair.answerer->setRemoteDescription(rtc::Description(sdp, "offer"));
  });
  auto channel = pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  EXPECT_TRUE(
      pair.states.waitFor([&] { return finalState(pair.offererState) && finalState(pair.answererState); }, 40s));
  EXPECT_NE(pair.answererState, State::Connected);
}

TEST(Failure, ClosingOneSideClosesTheOther) {
  LoopbackPair pair;
  Waiter closed;
  bool announced = false;
  bool channelClosed = false;
  std::shared_ptr<rtc::DataChannel> remote;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onClosed([&] { closed.update([&] { channelClosed = true; }); });
    closed.update([&] {
      announced = true;
      remote = dc;
    });
  });
  auto channel = pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(pair.waitBoth(State::Connected));
  ASSERT_TRUE(closed.waitFor([&] { return announced; }));
  pair.offerer->close();
  EXPECT_TRUE(closed.waitFor([&] { return channelClosed; }));
  EXPECT_TRUE(pair.states.waitFor([&] { return finalState(pair.answererState); }));
}

// Closed by close() or by the application dropping its last reference (the
// connection holds channels weakly).
TEST(Failure, ChannelCloseReachesThePeerAndTheConnectionLives) {
  for (bool dropped : {false, true}) {
    LoopbackPair pair;
    Waiter w;
    std::shared_ptr<rtc::DataChannel> remote;
    bool remoteClosed = false;
    bool localClosed = false;
    pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
      dc->onClosed([&] { w.update([&] { remoteClosed = true; }); });
      w.update([&] { remote = dc; });
    });
    auto channel = pair.offerer->createDataChannel("files");
    channel->onClosed([&] { w.update([&] { localClosed = true; }); });
    pair.offerer->setLocalDescription();
    ASSERT_TRUE(pair.waitBoth(State::Connected));
    ASSERT_TRUE(w.waitFor([&] { return remote != nullptr; }));
    if (dropped) {
      channel.reset();
    } else {
      channel->close();
      EXPECT_FALSE(channel->isOpen());
      EXPECT_THROW(channel->send(std::string("late")), std::runtime_error);
    }
    EXPECT_TRUE(w.waitFor([&] { return remoteClosed && (dropped || localClosed); })) << dropped;
    EXPECT_EQ(pair.offerer->state(), State::Connected);
  }
}

TEST(Failure, DestroyingAConnectionInsideItsOwnCallbackDoesNotHang) {
  LoopbackPair pair;
  Waiter w;
  bool destroyed = false;
  pair.answerer->onStateChange([&](State s) {
    if (s != State::Connected) return;
    pair.answerer.reset(); // the last reference, from its own callback thread
    w.update([&] { destroyed = true; });
  });
  pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  EXPECT_TRUE(w.waitFor([&] { return destroyed; }));
  EXPECT_TRUE(pair.states.waitFor([&] { return finalState(pair.offererState); }, 40s));
}

TEST(Failure, GarbageDatagramsOnTheIcePortDoNotBreakTheConnection) {
  LoopbackPair pair;
  std::mutex portsMutex;
  std::vector<std::pair<std::string, uint16_t>> ports;
  pair.answerer->onLocalCandidate([&](rtc::Candidate c) {
    {
      std::lock_guard lock(portsMutex);
      if (c.parsed() && c.address().find(':') == std::string::npos) ports.emplace_back(c.address(), c.port());
    }
    LoopbackPair::addWhenReady(pair.offerer, c);
  });
  Waiter w;
  size_t received = 0;
  std::shared_ptr<rtc::DataChannel> remote;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onMessage([&](rtc::message_variant) { w.update([&] { ++received; }); });
    w.update([&] { remote = dc; });
  });
  auto channel = pair.offerer->createDataChannel("input");
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(pair.waitBoth(State::Connected));

  // Winsock is already started by the connections above.
  SOCKET fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(fd, SOCKET(-1));
  std::mt19937 gen(7);
  std::vector<uint8_t> noise(1500);
  {
    std::lock_guard lock(portsMutex);
    for (const auto& [address, port] : ports) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      inet_pton(AF_INET, address.c_str(), &to.sin_addr);
      for (int i = 0; i < 2000; ++i) {
        size_t size = 1 + gen() % noise.size();
        for (size_t j = 0; j < size; ++j) noise[j] = uint8_t(gen());
        // Some look like DTLS records, some like STUN, most like nothing.
        if (i % 3 == 0) noise[0] = uint8_t(20 + gen() % 44);
        if (i % 5 == 0) noise[0] = 0;
        sendto(fd, reinterpret_cast<const char*>(noise.data()), int(size), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
      }
    }
  }
  closesocket(fd);
  try {
    for (int i = 0; i < 10; ++i) channel->send(std::string("still here"));
  } catch (const std::runtime_error&) {
    // the connection ended, which the check below allows
  }
  bool delivered = w.waitFor([&] { return received == 10; }, 10s);
  // Either the messages still arrive, or the connection ends cleanly.
  EXPECT_TRUE(delivered || finalState(pair.answerer->state()));
}
