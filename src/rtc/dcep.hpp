#pragma once
// The data channel establishment messages (DATA_CHANNEL_OPEN and _ACK) that
// travel on a channel's stream before its data.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rtc::impl::dcep {

enum MessageType : uint8_t { Ack = 0x02, Open = 0x03 };

enum ChannelType : uint8_t {
  Reliable = 0x00,
  PartialReliableRexmit = 0x01,
  PartialReliableTimed = 0x02,
  ReliableUnordered = 0x80,
  PartialReliableRexmitUnordered = 0x81,
  PartialReliableTimedUnordered = 0x82,
};

struct OpenMessage {
  uint8_t channelType = Reliable;
  uint16_t priority = 0;
  uint32_t reliabilityParameter = 0;
  std::string label;
  std::string protocol;

  bool unordered() const { return (channelType & 0x80) != 0; }
};

std::vector<uint8_t> encodeOpen(const OpenMessage& open);
std::vector<uint8_t> encodeAck();
// Empty for anything but a well-formed OPEN (unknown channel types too).
std::optional<OpenMessage> decodeOpen(const std::vector<uint8_t>& message);

} // namespace rtc::impl::dcep
