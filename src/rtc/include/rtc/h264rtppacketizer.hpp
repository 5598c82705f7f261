#pragma once
#include "rtc/nalunit.hpp"
#include "rtc/rtppacketizer.hpp"

namespace rtc {

// Turns each outgoing binary message (one access unit) into RTP packets
// (RFC 6184, packetization mode 1): NAL units that fit go as single NAL
// unit packets, larger ones as FU-A fragments. Every packet's payload is at
// most `maxFragmentSize` octets; the last packet of the access unit carries
// the marker bit. Other messages pass through.
class H264RtpPacketizer : public RtpPacketizer {
public:
  using Separator = NalUnit::Separator;

  // Inline: callers pass them by reference, which needs a definition.
  inline static const size_t DefaultMaxFragmentSize = 1220;
  inline static const uint32_t ClockRate = 90000;

  // Sizes below 3 octets, which cannot carry an FU-A fragment, count as 3.
  H264RtpPacketizer(Separator separator, shared_ptr<RtpPacketizationConfig> rtpConfig,
                    size_t maxFragmentSize = DefaultMaxFragmentSize);

  void outgoing(message_vector& messages, const message_callback& send) override;

private:
  void packetizeNalUnit(std::span<const byte> nal, bool lastOfAccessUnit, message_vector& out);

  const Separator separator_;
  const size_t maxFragmentSize_;
};

} // namespace rtc
