#pragma once
#include "rtc/mediahandler.hpp"
#include "rtc/rtppacketizationconfig.hpp"

#include <span>

namespace rtc {

// Base of the packetizers: makes RTP packets with the configuration's
// SSRC, payload type, next sequence number and current timestamp.
class RtpPacketizer : public MediaHandler {
public:
  explicit RtpPacketizer(shared_ptr<RtpPacketizationConfig> rtpConfig);

  const shared_ptr<RtpPacketizationConfig> rtpConfig;

protected:
  // One packet whose payload is `prefix` followed by `payload`; advances the
  // sequence number.
  message_ptr packetize(std::span<const byte> prefix, std::span<const byte> payload, bool marker);
};

} // namespace rtc
