#include <rtc/rtc.hpp>

#include <gtest/gtest.h>

// Closing right after the network thread was started (here: by answering an
// offer) used to hang now and then: the thread had not entered its loop yet
// and missed the request to leave it.
TEST(EarlyClose, RightAfterAnsweringReturns) {
  const std::string offer = "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n"
                            "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\nc=IN IP4 0.0.0.0\r\n"
                            "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n"
                            "a=fingerprint:sha-256 AB:CD:EF\r\na=setup:actpass\r\na=mid:0\r\na=sctp-port:5000\r\n";
  for (int i = 0; i < 50; ++i) {
    auto pc = std::make_shared<rtc::PeerConnection>();
    pc->setRemoteDescription(rtc::Description(offer, "offer"));
    pc->close();
  }
}
