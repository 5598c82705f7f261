#include "rtc/rtcpsrreporter.hpp"

#include "rtcp_packet.hpp"
#include "rtp_header.hpp"

namespace rtc {

RtcpSrReporter::RtcpSrReporter(shared_ptr<RtpPacketizationConfig> rtpConfig)
    : rtpConfig(std::move(rtpConfig)), lastReportedTimestamp_(this->rtpConfig->startTimestamp) {}

uint32_t RtcpSrReporter::lastReportedTimestamp() const { return lastReportedTimestamp_.load(); }

void RtcpSrReporter::setNeedsToReport() { needsToReport_ = true; }

void RtcpSrReporter::outgoing(message_vector& messages, const message_callback&) {
  bool sawRtp = false;
  for (const auto& message : messages) {
    if (!message || message->type != Message::Binary) continue;
    const auto header = impl::parseRtpHeader(*message);
    if (!header) continue;
    const auto payload = impl::rtpPayloadSize(*message, *header);
    if (!payload) continue;
    // Both counters wrap modulo 2^32, as receivers expect.
    ++packetCount_;
    octetCount_ += static_cast<uint32_t>(*payload);
    sawRtp = true;
  }
  if (!sawRtp) return;

  auto& config = *rtpConfig;
  const uint32_t sinceReport = config.timestamp - lastReportedTimestamp_.load();
  const bool due = !reported_ || needsToReport_.exchange(false) || sinceReport > config.clockRate;
  if (!due) return;

  impl::SenderInfo info;
  info.ssrc = config.ssrc;
  info.ntpTime = impl::toNtpTime(std::chrono::system_clock::now());
  info.rtpTimestamp = config.timestamp;
  info.packetCount = packetCount_;
  info.octetCount = octetCount_;
  messages.push_back(make_message(impl::buildSenderReport(info, config.cname), Message::Control));
  lastReportedTimestamp_ = config.timestamp;
  reported_ = true;
  needsToReport_ = false;
}

} // namespace rtc
