#pragma once
#include "rtc/common.hpp"

namespace rtc {

// RTP settings of one outgoing stream, shared by its packetizer and sender
// reporter. `sequenceNumber` is the next one to be used; `timestamp` is put
// on the next packets. Both start at random values (RFC 3550 section 5.1).
struct RtpPacketizationConfig {
  RtpPacketizationConfig(SSRC ssrc, string cname, uint8_t payloadType, uint32_t clockRate,
                         uint8_t videoOrientationId = 0);
  RtpPacketizationConfig(const RtpPacketizationConfig&) = delete;
  RtpPacketizationConfig& operator=(const RtpPacketizationConfig&) = delete;

  SSRC ssrc;
  string cname;
  uint8_t payloadType;
  uint32_t clockRate;
  // Kept for callers; no orientation extension is written.
  uint8_t videoOrientationId;
  uint16_t sequenceNumber;
  uint32_t timestamp;
  uint32_t startTimestamp;

  // A timestamp or timestamp difference in seconds.
  double timestampToSeconds(uint32_t timestamp);
  // Seconds as clock ticks, rounded and wrapped to 32 bits (negative
  // durations wrap too, so that adding the result steps backwards).
  uint32_t secondsToTimestamp(double seconds);
};

} // namespace rtc
