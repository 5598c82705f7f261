#pragma once
#include "rtc/mediahandler.hpp"
#include "rtc/rtppacketizationconfig.hpp"

#include <atomic>
#include <span>

namespace rtc {

// Base of the packetizers: makes RTP packets with the configuration's
// SSRC, payload type, next sequence number and current timestamp. When the
// negotiated media section maps the playout delay extension, every packet
// asks the receiver for a zero playout delay.
class RtpPacketizer : public MediaHandler {
public:
  explicit RtpPacketizer(shared_ptr<RtpPacketizationConfig> rtpConfig);

  const shared_ptr<RtpPacketizationConfig> rtpConfig;

  void media(const Description::Media& desc) override;

protected:
  // One packet whose payload is `prefix` followed by `payload`; advances the
  // sequence number.
  message_ptr packetize(std::span<const byte> prefix, std::span<const byte> payload, bool marker);

private:
  // 0 while not negotiated. Set on the signalling thread, read by senders.
  std::atomic<uint8_t> playoutDelayId_{0};
};

} // namespace rtc
