#include "rtc/h264rtppacketizer.hpp"

#include <algorithm>
#include <array>

namespace rtc {

namespace {

constexpr uint8_t FuAType = 28;
constexpr uint8_t FuStart = 0x80;
constexpr uint8_t FuEnd = 0x40;
constexpr size_t FuAOverhead = 2; // FU indicator and FU header

} // namespace

H264RtpPacketizer::H264RtpPacketizer(Separator separator, shared_ptr<RtpPacketizationConfig> rtpConfig,
                                     size_t maxFragmentSize)
    : RtpPacketizer(std::move(rtpConfig)), separator_(separator),
      maxFragmentSize_(std::max<size_t>(maxFragmentSize, FuAOverhead + 1)) {}

void H264RtpPacketizer::outgoing(message_vector& messages, const message_callback&) {
  message_vector out;
  out.reserve(messages.size());
  for (auto& message : messages) {
    if (!message || message->type != Message::Binary) {
      out.push_back(std::move(message));
      continue;
    }
    const auto units = NalUnit::split(*message, separator_);
    for (size_t i = 0; i < units.size(); ++i) packetizeNalUnit(units[i], i + 1 == units.size(), out);
  }
  messages.swap(out);
}

void H264RtpPacketizer::packetizeNalUnit(std::span<const byte> nal, bool lastOfAccessUnit, message_vector& out) {
  if (nal.size() <= maxFragmentSize_) {
    out.push_back(packetize({}, nal, lastOfAccessUnit));
    return;
  }
  // FU-A: the NAL header's F and NRI bits go into the indicator, its type
  // into each fragment's header; the header byte itself is not repeated.
  const uint8_t header = std::to_integer<uint8_t>(nal[0]);
  std::array<byte, FuAOverhead> fu{static_cast<byte>((header & 0xE0) | FuAType), byte{0}};
  const size_t chunk = maxFragmentSize_ - FuAOverhead;
  auto rest = nal.subspan(1);
  bool first = true;
  while (!rest.empty()) {
    const size_t size = std::min(chunk, rest.size());
    const bool last = size == rest.size();
    fu[1] = static_cast<byte>((first ? FuStart : 0) | (last ? FuEnd : 0) | (header & 0x1F));
    out.push_back(packetize(fu, rest.first(size), last && lastOfAccessUnit));
    rest = rest.subspan(size);
    first = false;
  }
}

} // namespace rtc
