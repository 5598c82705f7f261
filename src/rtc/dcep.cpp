#include "dcep.hpp"

namespace rtc::impl::dcep {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, uint16_t(v >> 16));
  put16(out, uint16_t(v));
}

uint16_t get16(const std::vector<uint8_t>& in, size_t at) { return uint16_t(in[at] << 8 | in[at + 1]); }

uint32_t get32(const std::vector<uint8_t>& in, size_t at) { return uint32_t(get16(in, at)) << 16 | get16(in, at + 2); }

} // namespace

std::vector<uint8_t> encodeOpen(const OpenMessage& open) {
  std::vector<uint8_t> out;
  out.push_back(Open);
  out.push_back(open.channelType);
  put16(out, open.priority);
  put32(out, open.reliabilityParameter);
  put16(out, uint16_t(open.label.size()));
  put16(out, uint16_t(open.protocol.size()));
  out.insert(out.end(), open.label.begin(), open.label.end());
  out.insert(out.end(), open.protocol.begin(), open.protocol.end());
  return out;
}

std::vector<uint8_t> encodeAck() { return {Ack}; }

std::optional<OpenMessage> decodeOpen(const std::vector<uint8_t>& message) {
  if (message.size() < 12 || message[0] != Open) return std::nullopt;
  OpenMessage open;
  open.channelType = message[1];
  switch (open.channelType) {
  case Reliable:
  case PartialReliableRexmit:
  case PartialReliableTimed:
  case ReliableUnordered:
  case PartialReliableRexmitUnordered:
  case PartialReliableTimedUnordered:
    break;
  default:
    return std::nullopt;
  }
  open.priority = get16(message, 2);
  open.reliabilityParameter = get32(message, 4);
  size_t labelLength = get16(message, 8);
  size_t protocolLength = get16(message, 10);
  if (message.size() != 12 + labelLength + protocolLength) return std::nullopt;
  open.label.assign(message.begin() + 12, message.begin() + 12 + long(labelLength));
  open.protocol.assign(message.begin() + 12 + long(labelLength), message.end());
  return open;
}

} // namespace rtc::impl::dcep
