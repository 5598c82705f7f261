// The sending chain: the H.264 packetizer, the header extensions it stamps
// once negotiated, and the sender reports after it.
#include "header_extensions.hpp"
#include "rtc/h264rtppacketizer.hpp"
#include "rtc/rtcpsrreporter.hpp"
#include "rtcp_packet.hpp"
#include "rtp_header.hpp"
#include "sdp_text.hpp"

#include "rtc_test_support.hpp"

#include <chrono>
#include <gtest/gtest.h>

using namespace rtctest;
using rtc::Description;
using Separator = rtc::NalUnit::Separator;

namespace {

const rtc::binary startCode = bytes({0, 0, 0, 1});
const std::string kPlayoutDelay = "http://www.webrtc.org/experiments/rtp-hdrext/playout-delay";

std::shared_ptr<rtc::RtpPacketizationConfig> makeConfig() {
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "dravnok-remote", 102, 90000);
  config->sequenceNumber = 65534;
  config->timestamp = 123456;
  return config;
}

rtc::message_vector packetize(rtc::MediaHandler& packetizer, rtc::binary accessUnit) {
  rtc::message_vector messages{rtc::make_message(std::move(accessUnit))};
  packetizer.outgoing(messages, nullptr);
  return messages;
}

rtc::binary nal(unsigned header, size_t size) { return concat({bytes({header}), filled(size - 1, 0xAB)}); }

// Rebuilds the NAL units from single NAL unit packets and FU-A fragments.
std::vector<rtc::binary> depacketize(const rtc::message_vector& packets) {
  std::vector<rtc::binary> units;
  for (const auto& p : packets) {
    const rtc::binary payload(p->begin() + 12, p->end());
    if ((at(payload, 0) & 0x1F) != 28) {
      units.push_back(payload);
      continue;
    }
    if (at(payload, 1) & 0x80) units.push_back(bytes({(at(payload, 0) & 0xE0) | (at(payload, 1) & 0x1F)}));
    units.back().insert(units.back().end(), payload.begin() + 2, payload.end());
  }
  return units;
}

// A browser-like video section with the given extension lines.
std::shared_ptr<Description::Media> offeredVideo(const std::string& extmaps) {
  const std::string sdp = "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n"
                          "m=video 9 UDP/TLS/RTP/SAVPF 102\r\nc=IN IP4 0.0.0.0\r\na=mid:0\r\na=recvonly\r\n"
                          "a=extmap-allow-mixed\r\n" +
                          extmaps + "a=rtpmap:102 H264/90000\r\n";
  return std::dynamic_pointer_cast<Description::Media>(Description(sdp, "offer").entry(0));
}

// A packetizer with a sender reporter after it.
struct Chain {
  explicit Chain(uint32_t startTimestamp) {
    config->timestamp = config->startTimestamp = startTimestamp;
    reporter = std::make_shared<rtc::RtcpSrReporter>(config);
    packetizer->addToChain(reporter);
  }

  // Sends one access unit of `size` octets; returns the reports it caused.
  rtc::message_vector send(size_t size) {
    rtc::message_vector messages{rtc::make_message(concat({startCode, nal(0x41, size)}))};
    packetizer->outgoingChain(messages, nullptr);
    std::erase_if(messages, [](auto& m) { return m->type != rtc::Message::Control; });
    return messages;
  }

  std::shared_ptr<rtc::RtpPacketizationConfig> config = makeConfig();
  std::shared_ptr<rtc::H264RtpPacketizer> packetizer =
      std::make_shared<rtc::H264RtpPacketizer>(Separator::LongStartSequence, config, 100);
  std::shared_ptr<rtc::RtcpSrReporter> reporter;
};

uint64_t ntpSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count() + 2'208'988'800ULL;
}

} // namespace

TEST(H264RtpPacketizer, FragmentsExactlyAboveTheLargestSize) {
  auto config = makeConfig();
  rtc::H264RtpPacketizer packetizer(Separator::LongStartSequence, config, 100);
  const auto fits = nal(0x67, 100), oneOver = nal(0x65, 101), large = nal(0x45, 1000);
  const auto packets = packetize(packetizer, concat({startCode, fits, startCode, oneOver, startCode, large}));

  // 101 octets: 98 + 2 after the header octet; 1000: ceil(999 / 98) = 11.
  ASSERT_EQ(packets.size(), 1u + 2u + 11u);
  EXPECT_EQ(packets[2]->size(), 12u + 4u);
  EXPECT_EQ(at(*packets[2], 13), 0x40u | 5u); // the end bit (the rest shows in the units rebuilt)
  EXPECT_EQ(depacketize(packets), (std::vector<rtc::binary>{fits, oneOver, large}));

  // One access unit: one timestamp, consecutive sequence numbers across the
  // wrap, the marker only on the very last packet.
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = *packets[i];
    EXPECT_LE(p.size(), 112u);
    EXPECT_EQ(rtc::binary(p.begin(), p.begin() + 12),
              concat({bytes({0x80, (i + 1 == packets.size() ? 0x80u : 0u) | 102u}), u16((65534 + i) % 65536),
                      u32(123456), u32(42)}))
        << i;
  }
  EXPECT_EQ(config->sequenceNumber, (65534 + packets.size()) % 65536);
}

TEST(H264RtpPacketizer, SplitsMixedStartCodesTinyUnitsAndEmptyInput) {
  auto config = makeConfig();
  rtc::H264RtpPacketizer packetizer(Separator::LongStartSequence, config);
  // Leading zeros, 3- and 4-byte start codes, one-octet units, trailing
  // zeros before a start code, an empty unit.
  auto stream = bytes({0, 0,    0, 0, 1, 0x09, 0x10, 0, 0, 1,    0x67, 0x42, 0, 0,    0,    0,
                       1, 0x68, 0, 0, 1, 0,    0,    0, 1, 0x0C, 0,    0,    1, 0x65, 0x88, 0x84});
  EXPECT_EQ(depacketize(packetize(packetizer, stream)),
            (std::vector<rtc::binary>{bytes({0x09, 0x10}), bytes({0x67, 0x42}), bytes({0x68}), bytes({0x0C}),
                                      bytes({0x65, 0x88, 0x84})}));

  // Length prefixes: a zero length is skipped, one that overruns ends it.
  rtc::H264RtpPacketizer prefixed(Separator::Length, config);
  auto withLengths = bytes({0, 0, 0, 2, 0x67, 0x42, 0, 0, 0, 0, 0, 0, 0, 1, 0x68, 0, 0, 0, 9, 0x65, 1});
  EXPECT_EQ(depacketize(packetize(prefixed, withLengths)),
            (std::vector<rtc::binary>{bytes({0x67, 0x42}), bytes({0x68})}));

  // Nothing to send: no packets, no sequence numbers used; control passes.
  const uint16_t sequenceNumber = config->sequenceNumber;
  auto control = rtc::make_message(bytes({0x80, 200, 0, 0}), rtc::Message::Control);
  rtc::message_vector messages{rtc::make_message(0), rtc::make_message(bytes({0, 0, 0, 1, 0, 0, 0, 1})), control};
  packetizer.outgoing(messages, nullptr);
  EXPECT_EQ(messages, rtc::message_vector{control});
  EXPECT_EQ(config->sequenceNumber, sequenceNumber);
}

TEST(RtpPacketizationConfig, ConvertsSecondsAndTicksWithWrapping) {
  rtc::RtpPacketizationConfig config(1, "c", 96, 90000);
  EXPECT_EQ(config.secondsToTimestamp(1.0 / 30), 3000u);
  EXPECT_EQ(config.secondsToTimestamp(-1.0 / 30), static_cast<uint32_t>(-3000));
  // Past 2^32 ticks: wraps instead of overflowing.
  EXPECT_EQ(config.secondsToTimestamp(50000), static_cast<uint32_t>(4'500'000'000ULL));
  EXPECT_DOUBLE_EQ(config.timestampToSeconds(45000), 0.5);
}

// Only what we write is answered, from the sending side, and only in an id
// the one-byte form can carry. Each answer replaces the one before.
TEST(HeaderExtensions, AnswerTakesUpOnlyOfferedPlayoutDelay) {
  const std::string pd = " " + kPlayoutDelay + "\r\n";
  const std::string others = "a=extmap:2 http://www.webrtc.org/experiments/rtp-hdrext/abs-send-time\r\n"
                             "a=extmap:9 urn:ietf:params:rtp-hdrext:sdes:mid\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {others + "a=extmap:5" + pd, "a=extmap:5" + pd},
      {"a=extmap:7/recvonly" + pd, "a=extmap:7/sendonly" + pd},
      {"a=extmap:7/sendonly" + pd, ""},
      {"a=extmap:7/inactive" + pd, ""},
      {"a=extmap:5" + pd, "a=extmap:5" + pd},
      {"a=extmap:15" + pd, ""},
      {"a=extmap:200" + pd, ""},
  };
  Description::Video ours("0");
  for (const auto& [offered, answered] : cases) {
    rtc::impl::answerExtMaps(*offeredVideo(offered), ours);
    std::string lines;
    for (const auto& line : rtc::impl::splitLines(ours.generateSdp("\r\n", "")))
      if (line.starts_with("a=extmap")) lines += line + "\r\n";
    EXPECT_EQ(lines, answered) << offered;
  }

  // The offer's mappings are written back, not as plain attributes; lines
  // that are not mappings stay plain attributes, not errors.
  auto offered = offeredVideo(others);
  EXPECT_TRUE(offered->attributes() == std::vector<std::string>{"extmap-allow-mixed"});
  EXPECT_NE(offered->generateSdp("\r\n", "").find(others), std::string::npos);
  auto odd = offeredVideo("a=extmap:0 urn:x\r\na=extmap:abc urn:y\r\na=extmap:4\r\na=extmap:3/sideways urn:z\r\n");
  EXPECT_TRUE(odd->extMaps().empty());
  EXPECT_EQ(odd->attributes().size(), 5u);
}

TEST(HeaderExtensions, OneByteBlockIsFramedPaddedAndStampedOnceNegotiated) {
  using rtc::impl::ExtensionElement;
  const auto write = [](std::span<const ExtensionElement> elements) {
    rtc::binary block(rtc::impl::oneByteExtensionSize(elements), std::byte{0xEE});
    rtc::impl::writeOneByteExtension(block.data(), elements);
    return block;
  };
  const auto delay = rtc::impl::playoutDelayData(0, 0);
  const auto twoOctets = bytes({7, 8});
  // 4 + 3 octets padded with zeros to two words.
  const ExtensionElement two[] = {{5, delay}, {9, twoOctets}};
  EXPECT_EQ(write(two), bytes({0xBE, 0xDE, 0, 2, 0x52, 0, 0, 0, 0x91, 7, 8, 0}));

  // Elements the form cannot carry are left out, not written wrong.
  const auto seventeen = filled(17, 1);
  const ExtensionElement unfit[] = {{0, delay}, {15, delay}, {3, seventeen}, {4, {}}, {5, delay}};
  EXPECT_EQ(write(unfit), bytes({0xBE, 0xDE, 0, 1, 0x52, 0, 0, 0}));
  EXPECT_EQ(rtc::impl::oneByteExtensionSize(std::span(unfit).first(4)), 0u);

  // Minimum in the first 12 bits, maximum in the last; clamped.
  const auto range = rtc::impl::playoutDelayData(1, 0x1000);
  EXPECT_EQ(rtc::binary(range.begin(), range.end()), bytes({0x00, 0x1F, 0xFF}));

  // Packets ask for a playout delay of zero once it is negotiated.
  rtc::H264RtpPacketizer packetizer(Separator::LongStartSequence, makeConfig(), 1000);

  // Not negotiated: plain 12-octet headers.
  auto plain = packetize(packetizer, concat({startCode, nal(0x65, 2500)}));
  ASSERT_EQ(plain.size(), 3u);

  Description::Video answered("0");
  answered.addExtMap({5, kPlayoutDelay, "", Description::Direction::Unknown});
  packetizer.media(answered);
  auto stamped = packetize(packetizer, concat({startCode, nal(0x65, 2500)}));
  ASSERT_EQ(stamped.size(), 3u);
  for (size_t i = 0; i < stamped.size(); ++i) {
    const auto& p = *stamped[i];
    EXPECT_EQ(at(p, 0), 0x90u) << i; // version 2 with the X bit
    EXPECT_EQ(rtc::binary(p.begin() + 12, p.begin() + 20), bytes({0xBE, 0xDE, 0, 1, 0x52, 0, 0, 0})) << i;
    // The payload follows the block unchanged.
    EXPECT_EQ(rtc::binary(p.begin() + 20, p.end()), rtc::binary(plain[i]->begin() + 12, plain[i]->end())) << i;
  }

  // A renegotiation without it stops the stamping.
  packetizer.media(Description::Video("0"));
  EXPECT_EQ(at(*packetize(packetizer, concat({startCode, nal(0x65, 10)}))[0], 0), 0x80u);
}

// The first packets are reported at once, later ones when asked and after a
// second of media time; the reports cross the 32-bit wrap.
TEST(RtcpSrReporter, ReportsAtOnceWhenAskedAndAfterASecondOfMediaTime) {
  const uint32_t start = 0xFFFF0000;
  Chain chain(start);
  EXPECT_EQ(chain.reporter->lastReportedTimestamp(), start);
  const auto before = ntpSeconds(std::chrono::system_clock::now());
  const auto reports = chain.send(250); // 3 fragments: 98 + 98 + 53 octets after the NAL header
  const auto after = ntpSeconds(std::chrono::system_clock::now());
  ASSERT_EQ(reports.size(), 1u);
  rtc::binary report = *reports[0];
  EXPECT_GE(be32(report, 8), before);
  EXPECT_LE(be32(report, 8), after);
  std::fill(report.begin() + 8, report.begin() + 16, std::byte{0}); // the wall clock, checked above
  // Payload octets: the FU octets and the NAL body.
  EXPECT_EQ(report, rtc::impl::buildSenderReport({42, 0, start, 3, 3 * 2 + 249}, "dravnok-remote"));

  chain.config->timestamp = start + 90000; // exactly one second: not yet
  EXPECT_TRUE(chain.send(10).empty());
  chain.reporter->setNeedsToReport();
  auto asked = chain.send(10);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(be32(*asked[0], 16), start + 90000);
  EXPECT_EQ(be32(*asked[0], 20), 5u);  // counts run on across reports
  EXPECT_TRUE(chain.send(10).empty()); // the request was used up

  chain.config->timestamp = start + 180001;
  EXPECT_EQ(chain.send(10).size(), 1u);
  EXPECT_EQ(chain.reporter->lastReportedTimestamp(), start + 180001);
}
