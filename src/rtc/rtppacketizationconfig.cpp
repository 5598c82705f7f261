#include "rtc/rtppacketizationconfig.hpp"

#include <cmath>
#include <random>

namespace rtc {

namespace {

uint32_t randomValue() {
  std::random_device device;
  return device();
}

} // namespace

RtpPacketizationConfig::RtpPacketizationConfig(SSRC ssrc, string cname, uint8_t payloadType, uint32_t clockRate,
                                               uint8_t videoOrientationId)
    : ssrc(ssrc), cname(std::move(cname)), payloadType(payloadType), clockRate(clockRate),
      videoOrientationId(videoOrientationId), sequenceNumber(static_cast<uint16_t>(randomValue())),
      timestamp(randomValue()), startTimestamp(timestamp) {}

double RtpPacketizationConfig::timestampToSeconds(uint32_t ticks) {
  return clockRate == 0 ? 0.0 : static_cast<double>(ticks) / clockRate;
}

uint32_t RtpPacketizationConfig::secondsToTimestamp(double seconds) {
  const double ticks = std::round(seconds * clockRate);
  if (!std::isfinite(ticks)) return 0;
  // Reduce first: converting a double outside the target range is undefined.
  constexpr double wrap = 4294967296.0;
  double reduced = std::fmod(ticks, wrap);
  if (reduced < 0) reduced += wrap;
  return reduced >= wrap ? 0 : static_cast<uint32_t>(reduced);
}

} // namespace rtc
