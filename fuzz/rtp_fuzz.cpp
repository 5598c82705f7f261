// fuzz-deps: dravnok::rtc
// Packets from the network: the RTP header reader, the compound RTCP walker
// and the NACK reader stay inside the datagram, and what they report fits it.
#include "rtc/rtcp_packet.hpp"
#include "rtc/rtp_header.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace rtc::impl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const rtc::byte> packet(reinterpret_cast<const rtc::byte*>(data), size);

  if (std::optional<RtpHeader> header = parseRtpHeader(packet)) {
    if (header->headerSize > size) std::abort();
    std::optional<size_t> payload = rtpPayloadSize(packet, *header);
    if (payload && *payload > size - header->headerSize) std::abort();
  }

  RtcpWalker walker(packet);
  size_t walked = 0;
  while (std::optional<RtcpPacketView> view = walker.next()) {
    walked += view->bytes.size();
    if (view->bytes.size() < 4 || walked > size) std::abort();
    if (view->bytes.data() < packet.data() || view->bytes.data() + view->bytes.size() > packet.data() + size)
      std::abort();
    size_t named = 0;
    forEachNackedSequence(*view, [&named](uint16_t) { ++named; });
    if (named > 17 * (view->bytes.size() / 4)) std::abort();
  }
  if (walker.clean() && walked != size) std::abort();
  return 0;
}
