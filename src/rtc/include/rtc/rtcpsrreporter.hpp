#pragma once
#include "rtc/mediahandler.hpp"
#include "rtc/rtppacketizationconfig.hpp"

#include <atomic>

namespace rtc {

// Counts the outgoing RTP packets and their payload octets and adds an RTCP
// sender report to the outgoing messages when asked with setNeedsToReport,
// with the first packets, and whenever more than a second of media time
// passed since the last report. The report pairs the wall clock with the
// configuration's current timestamp.
class RtcpSrReporter : public MediaHandler {
public:
  explicit RtcpSrReporter(shared_ptr<RtpPacketizationConfig> rtpConfig);

  void outgoing(message_vector& messages, const message_callback& send) override;

  // RTP timestamp of the last report (the start timestamp before the first).
  uint32_t lastReportedTimestamp() const;
  void setNeedsToReport();

  const shared_ptr<RtpPacketizationConfig> rtpConfig;

private:
  std::atomic<bool> needsToReport_{false};
  std::atomic<bool> reported_{false};
  std::atomic<uint32_t> lastReportedTimestamp_;
  uint32_t packetCount_ = 0;
  uint32_t octetCount_ = 0;
};

} // namespace rtc
