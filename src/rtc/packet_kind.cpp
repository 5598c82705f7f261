#include "packet_kind.hpp"

namespace rtc::impl {

bool isRtcp(std::span<const byte> packet) {
  if (packet.size() < 2) return false;
  const auto type = std::to_integer<unsigned>(packet[1]);
  return type >= 192 && type <= 223;
}

PacketKind classifyPacket(std::span<const byte> packet) {
  if (packet.empty()) return PacketKind::Other;
  const auto first = std::to_integer<unsigned>(packet[0]);
  if (first <= 3) return PacketKind::Stun;
  if (first >= 20 && first <= 63) return PacketKind::Dtls;
  if (first >= 128 && first <= 191) {
    if (packet.size() < 2) return PacketKind::Other;
    return isRtcp(packet) ? PacketKind::Rtcp : PacketKind::Rtp;
  }
  // ZRTP, TURN channels and anything unassigned.
  return PacketKind::Other;
}

} // namespace rtc::impl
