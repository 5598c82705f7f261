#pragma once
// What the viewer's RTCP said, as the feedback monitor records it for the
// rate controller and the encode loop. Every field is written with single
// atomic operations from the transport thread and read from others, so no
// lock is needed; see FeedbackMonitor for the order of the stores.
#include <atomic>
#include <cstdint>

namespace dravnok::remote {

struct RtcpFeedback {
  // Last REMB in bits per second; all bits set for exponents of 46 or more.
  std::atomic<uint64_t> rembBps{0};
  std::atomic<int64_t> rembAtMs{0};
  // Counts report blocks about our stream; a change means new loss/RTT values.
  std::atomic<uint32_t> receiverReports{0};
  // The 8-bit fraction lost of the latest block (loss = value / 256).
  std::atomic<uint32_t> fractionLost{0};
  // Round-trip time in ms, -1 when unknown.
  std::atomic<int64_t> rttMs{-1};
  std::atomic<int64_t> lastFeedbackMs{0};
  std::atomic<bool> feedbackSeen{false};
  std::atomic<uint32_t> nackCount{0};
  std::atomic<uint32_t> pictureLossCount{0};
  // One-shot: cleared by whoever takes it.
  std::atomic<bool> keyframeRequested{false};
};

} // namespace dravnok::remote
