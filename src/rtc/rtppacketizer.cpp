#include "rtc/rtppacketizer.hpp"

#include "header_extensions.hpp"
#include "rtp_header.hpp"

#include <algorithm>

namespace rtc {

RtpPacketizer::RtpPacketizer(shared_ptr<RtpPacketizationConfig> rtpConfig) : rtpConfig(std::move(rtpConfig)) {}

void RtpPacketizer::media(const Description::Media& desc) {
  playoutDelayId_ = impl::oneByteExtensionId(desc, impl::PlayoutDelayUri).value_or(0);
}

message_ptr RtpPacketizer::packetize(std::span<const byte> prefix, std::span<const byte> payload, bool marker) {
  // Every packet carries it, not only a frame's first: the receiver reads it
  // from whichever packet begins the frame it assembles, and a lost first
  // packet comes back as a retransmission of the same bytes.
  const auto delay = impl::playoutDelayData(0, 0);
  const impl::ExtensionElement elements[] = {{playoutDelayId_.load(std::memory_order_relaxed), delay}};
  const std::span<const impl::ExtensionElement> extension =
      elements[0].id != 0 ? std::span(elements) : std::span<const impl::ExtensionElement>();
  const size_t extensionSize = impl::oneByteExtensionSize(extension);

  const size_t headerSize = impl::RtpFixedHeaderSize + extensionSize;
  auto packet = make_message(headerSize + prefix.size() + payload.size(), Message::Binary);
  auto& config = *rtpConfig;
  impl::writeRtpHeader(packet->data(), marker, config.payloadType, config.sequenceNumber++, config.timestamp,
                       config.ssrc, extensionSize != 0);
  impl::writeOneByteExtension(packet->data() + impl::RtpFixedHeaderSize, extension);
  auto out = std::copy(prefix.begin(), prefix.end(), packet->begin() + headerSize);
  std::copy(payload.begin(), payload.end(), out);
  return packet;
}

} // namespace rtc
