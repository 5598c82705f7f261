#pragma once
// RTCP (RFC 3550, RFC 4585): walking compound packets with bounds checks,
// building sender reports, reading Generic NACKs.
#include "rtc/common.hpp"

#include <chrono>
#include <optional>
#include <span>

namespace rtc::impl {

constexpr uint8_t RtcpSenderReport = 200;
constexpr uint8_t RtcpReceiverReport = 201;
constexpr uint8_t RtcpSourceDescription = 202;
constexpr uint8_t RtcpTransportFeedback = 205;
constexpr uint8_t RtcpPayloadFeedback = 206;
constexpr uint8_t RtcpGenericNackFormat = 1;

struct RtcpPacketView {
  uint8_t count = 0; // report count or feedback message type
  uint8_t type = 0;
  std::span<const byte> bytes; // the whole packet, header included
};

// Steps through the packets of a compound RTCP buffer. Stops for good at
// the first packet that is not version 2 or whose length runs past the end.
class RtcpWalker {
public:
  explicit RtcpWalker(std::span<const byte> compound) : rest_(compound) {}
  std::optional<RtcpPacketView> next();
  // True when every byte was consumed by well-formed packets so far.
  bool clean() const { return !broken_ && rest_.empty(); }

private:
  std::span<const byte> rest_;
  bool broken_ = false;
};

struct SenderInfo {
  SSRC ssrc = 0;
  uint64_t ntpTime = 0; // 32.32 fixed point seconds since 1900
  uint32_t rtpTimestamp = 0;
  uint32_t packetCount = 0;
  uint32_t octetCount = 0;
};

// A compound of a sender report without report blocks and an SDES chunk
// carrying the CNAME (truncated to 255 octets).
binary buildSenderReport(const SenderInfo& info, std::string_view cname);

// 64-bit NTP time of a wall-clock instant.
uint64_t toNtpTime(std::chrono::system_clock::time_point time);

// Media SSRC of a Generic NACK, empty when the packet is not one or too short.
std::optional<SSRC> nackMediaSsrc(const RtcpPacketView& packet);

// Calls `lost(sequenceNumber)` for each packet a Generic NACK names; FCI
// entries that do not fit inside the packet are ignored.
template <typename F> void forEachNackedSequence(const RtcpPacketView& packet, F&& lost);

} // namespace rtc::impl

#include "byte_order.hpp"

namespace rtc::impl {

template <typename F> void forEachNackedSequence(const RtcpPacketView& packet, F&& lost) {
  if (!nackMediaSsrc(packet)) return;
  const byte* p = packet.bytes.data();
  for (size_t offset = 12; offset + 4 <= packet.bytes.size(); offset += 4) {
    const uint16_t pid = readBe16(p + offset);
    const uint16_t blp = readBe16(p + offset + 2);
    lost(pid);
    for (unsigned bit = 0; bit < 16; ++bit)
      if (blp & (1u << bit)) lost(static_cast<uint16_t>(pid + bit + 1));
  }
}

} // namespace rtc::impl
