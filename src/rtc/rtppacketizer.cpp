#include "rtc/rtppacketizer.hpp"

#include "rtp_header.hpp"

#include <algorithm>

namespace rtc {

RtpPacketizer::RtpPacketizer(shared_ptr<RtpPacketizationConfig> rtpConfig) : rtpConfig(std::move(rtpConfig)) {}

message_ptr RtpPacketizer::packetize(std::span<const byte> prefix, std::span<const byte> payload, bool marker) {
  auto packet = make_message(impl::RtpFixedHeaderSize + prefix.size() + payload.size(), Message::Binary);
  auto& config = *rtpConfig;
  impl::writeRtpHeader(packet->data(), marker, config.payloadType, config.sequenceNumber++, config.timestamp,
                       config.ssrc);
  auto out = std::copy(prefix.begin(), prefix.end(), packet->begin() + impl::RtpFixedHeaderSize);
  std::copy(payload.begin(), payload.end(), out);
  return packet;
}

} // namespace rtc
