#pragma once
// Reads the viewer's RTCP on the video track and records REMB, loss, RTT,
// NACK and picture-loss figures for the rate controller. It changes nothing
// on the path and never sends.
#include "congestion/clock.h"

#include <rtc/mediahandler.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dravnok::remote {

class RateController;

// The 32 middle bits of the NTP time for a wall-clock time in 100 ns units
// since 1970, as report blocks carry it in LSR.
uint32_t compactNtpTime(int64_t wallTicks);

// Round-trip time in ms from a report block's LSR and DLSR at the given wall
// time; -1 when LSR is 0 or the result would be 10 s or more.
int64_t roundTripMs(uint32_t lsr, uint32_t dlsr, int64_t wallTicks);

class FeedbackMonitor final : public rtc::MediaHandler {
public:
  // An empty `controller` makes the monitor record nothing.
  FeedbackMonitor(uint32_t ssrc, std::shared_ptr<RateController> controller,
                  std::shared_ptr<Clock> clock = systemClock());

  void incoming(rtc::message_vector& messages, const rtc::message_callback& send) override;

  // Parses one compound RTCP buffer received at `nowMs` (steady ms). Never
  // reads outside [data, data + size).
  void parseRtcp(const std::byte* data, size_t size, int64_t nowMs);

private:
  uint32_t ssrc_;
  std::shared_ptr<RateController> controller_;
  std::shared_ptr<Clock> clock_;
};

} // namespace dravnok::remote
