#pragma once
// Telling apart what arrives on the one media transport: STUN, DTLS, RTP
// and RTCP by the first byte (RFC 7983), RTCP from RTP by the packet type
// octet (RFC 5761, rtcp-mux).
#include "rtc/common.hpp"

#include <span>

namespace rtc::impl {

enum class PacketKind { Stun, Dtls, Rtp, Rtcp, Other };

PacketKind classifyPacket(std::span<const byte> packet);

// The second octet of a muxed RTCP packet is its type, 192 to 223; RTP
// payload types there would collide, which is why they are not used.
bool isRtcp(std::span<const byte> packet);

} // namespace rtc::impl
