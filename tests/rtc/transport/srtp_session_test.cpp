#include "transport/srtp_session.hpp"

#include "rtc/rtc_test_support.hpp"

#include <gtest/gtest.h>

using namespace rtctest;
using rtc::impl::SrtpProfile;
using rtc::impl::SrtpSession;

namespace {

rtc::binary material(SrtpProfile profile) {
  rtc::binary out(SrtpSession::keyingMaterialSize(profile));
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::byte>(i * 7 + 1);
  return out;
}

rtc::binary rtp(uint16_t sequenceNumber) {
  return concat({bytes({0x80, 96}), u16(sequenceNumber), u32(90000), u32(42), filled(100, 0x5A)});
}

const rtc::binary pli = concat({bytes({0x81, 206, 0, 2}), u32(1), u32(42)});

struct Pair : testing::TestWithParam<SrtpProfile> {
  SrtpSession client{GetParam(), material(GetParam()), true};
  SrtpSession server{GetParam(), material(GetParam()), false};
  size_t tag = GetParam() == SrtpProfile::AeadAes128Gcm ? 16 : 10;
};

} // namespace

// Both directions and both kinds with their own keys; what is too short or
// overruns itself is refused before the SRTP library reads it.
TEST_P(Pair, EachSideReadsOnlyWhatThePeerProtects) {
  auto packet = rtp(1000);
  ASSERT_TRUE(server.protectRtp(packet));
  EXPECT_EQ(packet.size(), 112 + tag);
  auto own = packet;
  EXPECT_FALSE(server.unprotectRtp(own));
  ASSERT_TRUE(client.unprotectRtp(packet));
  EXPECT_EQ(packet, rtp(1000));
  auto again = rtp(1000); // answering a NACK repeats a sequence number
  ASSERT_TRUE(server.protectRtp(again));

  auto srtcp = pli;
  ASSERT_TRUE(client.protectRtcp(srtcp));
  EXPECT_EQ(srtcp.size(), pli.size() + 4 + tag);
  ASSERT_TRUE(server.unprotectRtcp(srtcp));
  EXPECT_EQ(srtcp, pli);

  for (size_t size : {size_t{0}, size_t{11}, 12 + tag - 1}) {
    rtc::binary cut(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(client.unprotectRtp(cut)) << size;
    EXPECT_FALSE(server.unprotectRtcp(cut)) << size;
  }
  again[0] = std::byte{0x8F}; // 15 CSRCs that are not there
  EXPECT_FALSE(client.unprotectRtp(again));
  auto overrun = bytes({0x80, 201, 0, 9, 0, 0, 0, 1});
  EXPECT_FALSE(client.protectRtcp(overrun));
  EXPECT_THROW(SrtpSession(GetParam(), filled(20, 1), true), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Pair, testing::Values(SrtpProfile::AesCm128HmacSha1_80, SrtpProfile::AeadAes128Gcm));
