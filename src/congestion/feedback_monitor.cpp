#include "congestion/feedback_monitor.h"

#include "congestion/rate_controller.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

namespace dravnok::remote {
namespace {

constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
constexpr uint8_t kTransportFeedback = 205;
constexpr uint8_t kPayloadFeedback = 206;
constexpr uint8_t kGenericNack = 1;
constexpr uint8_t kPictureLoss = 1;
constexpr uint8_t kFullIntraRequest = 4;
constexpr uint8_t kApplicationLayer = 15;
constexpr size_t kReportBlockSize = 24;
// 10 s in units of 1/65536 s: older echoes say nothing about the path now.
constexpr uint32_t kRttLimit = 0xA0000;

uint8_t byteAt(const std::byte* p, size_t i) { return std::to_integer<uint8_t>(p[i]); }

uint16_t be16(const std::byte* p) { return static_cast<uint16_t>(byteAt(p, 0) << 8 | byteAt(p, 1)); }

uint32_t be32(const std::byte* p) {
  return uint32_t{byteAt(p, 0)} << 24 | uint32_t{byteAt(p, 1)} << 16 | uint32_t{byteAt(p, 2)} << 8 | byteAt(p, 3);
}

void markFeedback(RtcpFeedback& feedback, int64_t nowMs) {
  feedback.lastFeedbackMs.store(nowMs);
  feedback.feedbackSeen.store(true);
}

} // namespace

uint32_t compactNtpTime(int64_t wallTicks) {
  constexpr double kEra = 4294967296.0; // 2^32 seconds, one NTP era
  double seconds = static_cast<double>(wallTicks) / 10'000'000.0 + 2'208'988'800.0;
  // NTP seconds wrap every era (the first wrap is in 2036); reducing first
  // keeps the conversion to 64 bits defined without changing bits 16..47.
  seconds = std::fmod(seconds, kEra);
  if (seconds < 0) seconds += kEra;
  const auto ntp = static_cast<uint64_t>(seconds * kEra);
  return static_cast<uint32_t>(ntp >> 16);
}

int64_t roundTripMs(uint32_t lsr, uint32_t dlsr, int64_t wallTicks) {
  if (lsr == 0) return -1;
  const uint32_t delta = compactNtpTime(wallTicks) - dlsr - lsr;
  if (delta >= kRttLimit) return -1;
  return static_cast<int64_t>(uint64_t{delta} * 1000 / 65536);
}

FeedbackMonitor::FeedbackMonitor(uint32_t ssrc, std::shared_ptr<RateController> controller,
                                 std::shared_ptr<Clock> clock)
    : ssrc_(ssrc), controller_(std::move(controller)), clock_(std::move(clock)) {}

void FeedbackMonitor::incoming(rtc::message_vector& messages, const rtc::message_callback&) {
  const int64_t nowMs = clock_->steadyMs();
  for (const auto& message : messages) {
    if (!message || message->type != rtc::Message::Control || message->size() < 8) continue;
    parseRtcp(message->data(), message->size(), nowMs);
  }
}

void FeedbackMonitor::parseRtcp(const std::byte* data, size_t size, int64_t nowMs) {
  if (!controller_ || size < 4) return;
  RtcpFeedback& feedback = controller_->feedback();

  size_t offset = 0;
  while (offset + 4 <= size) {
    const std::byte* packet = data + offset;
    const uint8_t first = byteAt(packet, 0);
    const uint8_t fmt = first & 0x1F;
    const uint8_t pt = byteAt(packet, 1);
    const size_t len = (size_t{be16(packet + 2)} + 1) * 4;
    // Anything after a packet we cannot trust is not trusted either.
    if ((first & 0xC0) != 0x80 || len > size - offset) return;
    markFeedback(feedback, nowMs);

    if (pt == kSenderReport || pt == kReceiverReport) {
      const size_t firstBlock = pt == kSenderReport ? 28 : 8;
      for (size_t i = 0; i < fmt; ++i) {
        const size_t at = firstBlock + i * kReportBlockSize;
        if (at + kReportBlockSize > len) break;
        const std::byte* block = packet + at;
        if (be32(block) != ssrc_) continue;
        const int64_t rtt = roundTripMs(be32(block + 16), be32(block + 20), clock_->wallTicks());
        // The counter goes last so that a reader who sees it change also
        // sees this block's values (or newer ones).
        feedback.fractionLost.store(byteAt(block, 4));
        feedback.rttMs.store(rtt);
        markFeedback(feedback, nowMs);
        feedback.receiverReports.fetch_add(1);
      }
    } else if (pt == kPayloadFeedback) {
      if (fmt == kApplicationLayer) {
        if (len >= 20 && std::memcmp(packet + 12, "REMB", 4) == 0) {
          const uint8_t exponent = byteAt(packet, 17) >> 2;
          const uint64_t mantissa =
              uint64_t{byteAt(packet, 17) & 3u} << 16 | uint64_t{byteAt(packet, 18)} << 8 | byteAt(packet, 19);
          // An 18-bit mantissa shifted by 46 or more no longer fits in 64 bits.
          feedback.rembBps.store(exponent < 46 ? mantissa << exponent : ~uint64_t{0});
          feedback.rembAtMs.store(nowMs);
          markFeedback(feedback, nowMs);
        }
      } else if (fmt == kPictureLoss || fmt == kFullIntraRequest) {
        feedback.pictureLossCount.fetch_add(1);
        feedback.keyframeRequested.store(true);
        markFeedback(feedback, nowMs);
      }
    } else if (pt == kTransportFeedback && fmt == kGenericNack && len >= 16) {
      uint32_t missing = 0;
      for (size_t at = 12; at + 4 <= len; at += 4) {
        missing += 1 + static_cast<uint32_t>(std::popcount(be16(packet + at + 2)));
      }
      if (missing != 0) {
        feedback.nackCount.fetch_add(missing);
        markFeedback(feedback, nowMs);
      }
    }
    offset += len;
  }
}

} // namespace dravnok::remote
