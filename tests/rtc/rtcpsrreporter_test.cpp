#include "rtc/h264rtppacketizer.hpp"
#include "rtc/rtcpsrreporter.hpp"

#include "rtc_test_support.hpp"

#include <chrono>
#include <gtest/gtest.h>

using namespace rtctest;

namespace {

struct Chain {
  explicit Chain(uint32_t startTimestamp) {
    config->timestamp = config->startTimestamp = startTimestamp;
    reporter = std::make_shared<rtc::RtcpSrReporter>(config);
    packetizer->addToChain(reporter);
  }

  // Sends one access unit of `size` octets; returns the reports it caused.
  rtc::message_vector send(size_t size) {
    rtc::message_vector messages{rtc::make_message(concat({bytes({0, 0, 0, 1}), filled(size, 0x41)}))};
    packetizer->outgoingChain(messages, nullptr);
    std::erase_if(messages, [](auto& m) { return m->type != rtc::Message::Control; });
    return messages;
  }

  std::shared_ptr<rtc::RtpPacketizationConfig> config =
      std::make_shared<rtc::RtpPacketizationConfig>(42, "dravnok-remote", 96, 90000);
  std::shared_ptr<rtc::H264RtpPacketizer> packetizer =
      std::make_shared<rtc::H264RtpPacketizer>(rtc::NalUnit::Separator::LongStartSequence, config, 100);
  std::shared_ptr<rtc::RtcpSrReporter> reporter;
};

uint64_t ntpSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count() + 2'208'988'800ULL;
}

} // namespace

TEST(RtcpSrReporter, ReportCarriesTheMappingCountsAndCname) {
  Chain chain(777000);
  const auto before = ntpSeconds(std::chrono::system_clock::now());
  const auto reports = chain.send(250); // 3 fragments: 98 + 98 + 53 octets after the NAL header
  const auto after = ntpSeconds(std::chrono::system_clock::now());
  ASSERT_EQ(reports.size(), 1u);
  const rtc::binary& r = *reports[0];
  ASSERT_EQ(r.size(), 28u + 28u);
  EXPECT_EQ(be32(r, 0), 0x80C80006u); // SR, no report blocks, 28 octets
  EXPECT_EQ(be32(r, 4), 42u);
  EXPECT_GE(be32(r, 8), before);
  EXPECT_LE(be32(r, 8), after);
  EXPECT_EQ(be32(r, 16), 777000u);
  EXPECT_EQ(be32(r, 20), 3u);
  EXPECT_EQ(be32(r, 24), 3 * 2 + 249u); // payload octets: FU octets and NAL body
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data()) + 38, 14), "dravnok-remote");
  EXPECT_EQ(chain.reporter->lastReportedTimestamp(), 777000u);
}

TEST(RtcpSrReporter, ReportsWhenAskedAndAfterASecondOfMediaTime) {
  const uint32_t start = 0xFFFF0000; // the reports cross the 32-bit wrap
  Chain chain(start);
  EXPECT_EQ(chain.reporter->lastReportedTimestamp(), start);
  EXPECT_EQ(chain.send(10).size(), 1u); // the first packets are reported at once

  chain.config->timestamp = start + 90000; // exactly one second: not yet
  EXPECT_TRUE(chain.send(10).empty());
  chain.reporter->setNeedsToReport();
  auto asked = chain.send(10);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(be32(*asked[0], 16), start + 90000);
  EXPECT_EQ(be32(*asked[0], 20), 3u);  // counts run on across reports
  EXPECT_TRUE(chain.send(10).empty()); // the request was used up

  chain.config->timestamp = start + 180001;
  EXPECT_EQ(chain.send(10).size(), 1u);
  EXPECT_EQ(chain.reporter->lastReportedTimestamp(), start + 180001);
}
