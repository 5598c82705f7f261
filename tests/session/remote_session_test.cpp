#include "session/remote_session.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace dravnok;

#if DRAVNOK_HAVE_WEBRTC
// A step that throws while the session starts (here the capture, as a thread
// or a certificate that cannot be made would) or while the offer makes the
// track is reported as any failed start is: an error line, then "failed".
TEST(RemoteSession, AStepThatThrowsIsAFailedStart) {
  std::vector<std::string> events; // all on this thread until the session closes
  const auto record = [&](const std::string& event) { events.push_back(event); };
  RemoteSession session({.onState = record, .onLog = [&](auto& level, auto& text) { record(level + " " + text); }},
                        [](std::string_view step) { throw std::runtime_error(std::string(step) + " broke"); });
  session.start("s", true, {}, 0);
  session.handleOffer("m=video 9 X 102\na=mid:0\na=rtpmap:102 H264/90000\na=fmtp:102 packetization-mode=1\n");
  EXPECT_EQ(events, (std::vector<std::string>{"error session start failed: capture broke", "failed",
                                              "info offer video: mid=0 H.264 pt=102 profile-level-id=?",
                                              "error video track creation failed: video track broke", "failed"}));
}
#endif
