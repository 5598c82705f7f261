#pragma once
// RTP fixed header (RFC 3550 section 5.1): bounds-checked parsing and writing.
#include "rtc/common.hpp"

#include <optional>
#include <span>

namespace rtc::impl {

constexpr size_t RtpFixedHeaderSize = 12;

struct RtpHeader {
  bool marker = false;
  uint8_t payloadType = 0;
  uint16_t sequenceNumber = 0;
  uint32_t timestamp = 0;
  SSRC ssrc = 0;
  bool padding = false;
  // Fixed header plus CSRC list plus header extension.
  size_t headerSize = RtpFixedHeaderSize;
};

// Reads the header of an RTP packet. Empty when the packet is not version 2
// or its CSRC list or header extension runs past the end. The payload is
// not looked at, so this also works on SRTP packets.
std::optional<RtpHeader> parseRtpHeader(std::span<const byte> packet);

// Payload octets of a clear RTP packet (without header and padding); empty
// when the padding count is 0 or larger than what follows the header.
std::optional<size_t> rtpPayloadSize(std::span<const byte> packet, const RtpHeader& header);

// Writes a 12-byte header without CSRCs at `out`. With `extension` the X bit
// is set: a header extension block must follow right after it.
void writeRtpHeader(byte* out, bool marker, uint8_t payloadType, uint16_t sequenceNumber, uint32_t timestamp, SSRC ssrc,
                    bool extension = false);

// One element of a header extension block in the one-byte header form
// (RFC 8285 section 4.2): id 1 to 14 and 1 to 16 data octets.
struct ExtensionElement {
  uint8_t id = 0;
  std::span<const byte> data;
};

// Octets of the block that carries `elements`: the 4-octet block header, each
// element's header and data, and zero padding to a multiple of 4. 0 for no
// elements (no block at all).
size_t oneByteExtensionSize(std::span<const ExtensionElement> elements);

// Writes that block at `out`. Elements with an id or size the form cannot
// carry are the caller's fault; they are left out rather than written wrong.
void writeOneByteExtension(byte* out, std::span<const ExtensionElement> elements);

} // namespace rtc::impl
