#include "session/remote_session.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#if DRAVNOK_HAVE_WEBRTC
namespace dravnok {
namespace {

using Lines = std::vector<std::string>;

const std::string kOffer = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nt=0 0\r\n"
                           "m=video 9 UDP/TLS/RTP/SAVPF 102\r\nc=IN IP4 0.0.0.0\r\n"
                           "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n"
                           "a=fingerprint:sha-256 AB:CD:EF\r\na=setup:actpass\r\na=mid:0\r\na=recvonly\r\n"
                           "a=rtpmap:102 H264/90000\r\na=fmtp:102 profile-level-id=42e01f;packetization-mode=1\r\n";

// A step that throws while the session starts (here the capture, as a
// thread or a certificate that cannot be made would) or while the offer
// makes the track is reported as any failed start is: an error line, then
// "failed"; the process goes on.
TEST(RemoteSession, AStepThatThrowsIsAFailedStart) {
  std::mutex mutex;
  Lines lines, states;
  HostCallbacks callbacks;
  callbacks.onAnswer = [](const std::string&) {};
  callbacks.onCandidate = [](const std::string&, const std::string&, int, bool) {};
  callbacks.onState = [&](const std::string& value) {
    std::lock_guard lock(mutex);
    states.push_back(value);
  };
  callbacks.onLog = [&](const std::string& level, const std::string& message) {
    std::lock_guard lock(mutex);
    lines.push_back(level + " " + message);
  };
  RemoteSession session(callbacks,
                        [](std::string_view step) { throw std::runtime_error(std::string(step) + " broke"); });
  session.start("s", true, {}, 0);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(lines, (Lines{"error session start failed: capture broke"}));
    EXPECT_EQ(states, (Lines{"failed"}));
  }
  session.handleOffer(kOffer);
  std::lock_guard lock(mutex);
  EXPECT_EQ(lines.back(), "error video track creation failed: video track broke");
  EXPECT_EQ(states, (Lines{"failed", "failed"}));
}

} // namespace
} // namespace dravnok
#endif
