#pragma once
// The CRC32c checksum of SCTP packets (RFC 9260 appendix A). Our packets
// travel inside DTLS, which authenticates them, so incoming ones are not
// checked again; outgoing ones still carry it because peers verify it. The
// processor's CRC32c instruction makes it nearly free where it exists.
#include <cstddef>
#include <cstdint>

namespace rtc::impl {

// CRC32c of `data` as it goes into the packet's checksum field (the field
// must be zero while it is computed): the value to store with memcpy.
uint32_t sctpChecksum(const uint8_t* data, size_t size);

// Fills in the checksum of a whole SCTP packet (common header first).
void setSctpChecksum(uint8_t* packet, size_t size);

} // namespace rtc::impl
