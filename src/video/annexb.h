#pragma once
// Annex-B byte streams: every NAL unit behind a four-byte start code, so the
// packetizer and decoders find units the same way whatever the encoder wrote.
#include <cstdint>
#include <span>
#include <vector>

namespace dravnok::video {

void appendWithLongStartCodes(std::span<const uint8_t> stream, std::vector<uint8_t>& out);

} // namespace dravnok::video
