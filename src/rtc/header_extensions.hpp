#pragma once
// The RTP header extensions that the layer writes by itself, and how an
// answer takes them up from the offer.
#include "rtc/description.hpp"

#include <array>
#include <string_view>

namespace rtc::impl {

// Asks the receiver to keep its playout delay within a range. Ours is zero:
// a screen being worked on remotely is best shown as soon as it is decoded,
// not smoothed by a buffer that grows with the largest frame seen.
inline constexpr std::string_view PlayoutDelayUri = "http://www.webrtc.org/experiments/rtp-hdrext/playout-delay";

// The id under which `entry` maps `uri`, when the one-byte header form can
// carry it (1 to 14).
optional<uint8_t> oneByteExtensionId(const Description::Entry& entry, std::string_view uri);

// Puts into `answer` the offered mappings of extensions that we write, with
// the offered id; any mapping the answer had before goes. Mappings that the
// offerer only sends, or whose id needs the two-byte form, are not taken up.
void answerExtMaps(const Description::Entry& offered, Description::Entry& answer);

// The playout delay element's data: 12-bit minimum and maximum, in 10 ms
// units; larger values are clamped.
std::array<byte, 3> playoutDelayData(uint16_t minimum, uint16_t maximum);

} // namespace rtc::impl
