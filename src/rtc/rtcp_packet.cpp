#include "rtcp_packet.hpp"

#include <algorithm>

namespace rtc::impl {

std::optional<RtcpPacketView> RtcpWalker::next() {
  if (broken_ || rest_.size() < 4) {
    broken_ = broken_ || !rest_.empty();
    return std::nullopt;
  }
  const byte* p = rest_.data();
  const size_t length = (size_t{readBe16(p + 2)} + 1) * 4;
  if ((byteAt(p, 0) & 0xC0) != 0x80 || length > rest_.size()) {
    broken_ = true;
    return std::nullopt;
  }
  RtcpPacketView view{static_cast<uint8_t>(byteAt(p, 0) & 0x1F), byteAt(p, 1), rest_.first(length)};
  rest_ = rest_.subspan(length);
  return view;
}

binary buildSenderReport(const SenderInfo& info, std::string_view cname) {
  cname = cname.substr(0, 255);
  // SDES chunk: SSRC, CNAME item (type, length, text), then at least one
  // zero octet ending the item list, padded to a 32-bit boundary.
  const size_t chunkSize = (4 + 2 + cname.size() + 1 + 3) / 4 * 4;
  const size_t srSize = 28;
  const size_t sdesSize = 4 + chunkSize;
  binary out(srSize + sdesSize, byte{0});

  byte* sr = out.data();
  sr[0] = byte{0x80};
  sr[1] = static_cast<byte>(RtcpSenderReport);
  writeBe16(sr + 2, static_cast<uint16_t>(srSize / 4 - 1));
  writeBe32(sr + 4, info.ssrc);
  writeBe32(sr + 8, static_cast<uint32_t>(info.ntpTime >> 32));
  writeBe32(sr + 12, static_cast<uint32_t>(info.ntpTime));
  writeBe32(sr + 16, info.rtpTimestamp);
  writeBe32(sr + 20, info.packetCount);
  writeBe32(sr + 24, info.octetCount);

  byte* sdes = sr + srSize;
  sdes[0] = byte{0x81}; // one chunk
  sdes[1] = static_cast<byte>(RtcpSourceDescription);
  writeBe16(sdes + 2, static_cast<uint16_t>(sdesSize / 4 - 1));
  writeBe32(sdes + 4, info.ssrc);
  sdes[8] = byte{1}; // CNAME
  sdes[9] = static_cast<byte>(cname.size());
  std::transform(cname.begin(), cname.end(), sdes + 10, [](char c) { return static_cast<byte>(c); });
  return out;
}

uint64_t toNtpTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  constexpr uint64_t secondsFrom1900To1970 = 2'208'988'800ULL;
  const auto sinceEpoch = duration_cast<nanoseconds>(time.time_since_epoch());
  const auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
  const uint64_t nanos = static_cast<uint64_t>((sinceEpoch - wholeSeconds).count());
  const uint64_t secs = static_cast<uint64_t>(wholeSeconds.count()) + secondsFrom1900To1970;
  return (secs << 32) | ((nanos << 32) / 1'000'000'000ULL);
}

std::optional<SSRC> nackMediaSsrc(const RtcpPacketView& packet) {
  if (packet.type != RtcpTransportFeedback || packet.count != RtcpGenericNackFormat || packet.bytes.size() < 16)
    return std::nullopt;
  return readBe32(packet.bytes.data() + 8);
}

} // namespace rtc::impl
