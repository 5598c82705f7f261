#include "rtp_header.hpp"

#include "byte_order.hpp"

#include <algorithm>

namespace rtc::impl {

std::optional<RtpHeader> parseRtpHeader(std::span<const byte> packet) {
  if (packet.size() < RtpFixedHeaderSize) return std::nullopt;
  const byte* p = packet.data();
  const uint8_t first = byteAt(p, 0);
  if ((first & 0xC0) != 0x80) return std::nullopt;

  RtpHeader header;
  header.padding = (first & 0x20) != 0;
  header.marker = (byteAt(p, 1) & 0x80) != 0;
  header.payloadType = byteAt(p, 1) & 0x7F;
  header.sequenceNumber = readBe16(p + 2);
  header.timestamp = readBe32(p + 4);
  header.ssrc = readBe32(p + 8);

  size_t size = RtpFixedHeaderSize + 4 * size_t{first & 0x0Fu};
  if ((first & 0x10) != 0) {
    // Extension: 16-bit profile word, 16-bit length in 32-bit words.
    if (packet.size() < size + 4) return std::nullopt;
    size += 4 + 4 * size_t{readBe16(p + size + 2)};
  }
  if (size > packet.size()) return std::nullopt;
  header.headerSize = size;
  return header;
}

std::optional<size_t> rtpPayloadSize(std::span<const byte> packet, const RtpHeader& header) {
  if (header.headerSize > packet.size()) return std::nullopt;
  size_t remaining = packet.size() - header.headerSize;
  if (!header.padding) return remaining;
  if (remaining == 0) return std::nullopt;
  const size_t padding = std::to_integer<size_t>(packet.back());
  if (padding == 0 || padding > remaining) return std::nullopt;
  return remaining - padding;
}

void writeRtpHeader(byte* out, bool marker, uint8_t payloadType, uint16_t sequenceNumber, uint32_t timestamp, SSRC ssrc,
                    bool extension) {
  out[0] = extension ? byte{0x90} : byte{0x80};
  out[1] = static_cast<byte>((marker ? 0x80 : 0x00) | (payloadType & 0x7F));
  writeBe16(out + 2, sequenceNumber);
  writeBe32(out + 4, timestamp);
  writeBe32(out + 8, ssrc);
}

namespace {

constexpr uint16_t OneByteProfile = 0xBEDE;
constexpr size_t ExtensionBlockHeaderSize = 4;

bool fitsOneByteForm(const ExtensionElement& element) {
  return element.id >= 1 && element.id <= 14 && !element.data.empty() && element.data.size() <= 16;
}

size_t elementsSize(std::span<const ExtensionElement> elements) {
  size_t size = 0;
  for (const auto& e : elements) {
    if (fitsOneByteForm(e)) size += 1 + e.data.size();
  }
  return size;
}

} // namespace

size_t oneByteExtensionSize(std::span<const ExtensionElement> elements) {
  const size_t size = elementsSize(elements);
  if (size == 0) return 0;
  return ExtensionBlockHeaderSize + (size + 3) / 4 * 4;
}

void writeOneByteExtension(byte* out, std::span<const ExtensionElement> elements) {
  const size_t total = oneByteExtensionSize(elements);
  if (total == 0) return;
  writeBe16(out, OneByteProfile);
  // The length counts 32-bit words after the block header.
  writeBe16(out + 2, static_cast<uint16_t>((total - ExtensionBlockHeaderSize) / 4));
  byte* p = out + ExtensionBlockHeaderSize;
  for (const auto& e : elements) {
    if (!fitsOneByteForm(e)) continue;
    *p++ = static_cast<byte>((e.id << 4) | (e.data.size() - 1));
    p = std::copy(e.data.begin(), e.data.end(), p);
  }
  std::fill(p, out + total, byte{0});
}

} // namespace rtc::impl
