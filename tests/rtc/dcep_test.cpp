#include "dcep.hpp"

#include <gtest/gtest.h>

using namespace rtc::impl::dcep;

TEST(DataChannelOpen, RoundTripsAndRejectsDamagedMessages) {
  OpenMessage open;
  open.channelType = PartialReliableRexmitUnordered;
  open.priority = 256;
  open.reliabilityParameter = 3;
  open.label = "files";
  open.protocol = std::string(1, 'x'); // GCC 12 at -O3 sees a false overlap in = "x"
  auto bytes = encodeOpen(open);
  ASSERT_EQ(bytes.size(), 12u + 5 + 1);
  auto back = decodeOpen(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->label, "files");
  EXPECT_EQ(back->protocol, "x");
  EXPECT_EQ(back->reliabilityParameter, 3u);
  EXPECT_TRUE(back->unordered());

  // A label length that runs past the end, a truncated header, an unknown
  // channel type and an ACK are not OPEN messages.
  auto longer = bytes;
  longer[9] = 200;
  EXPECT_FALSE(decodeOpen(longer));
  EXPECT_FALSE(decodeOpen(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 11)));
  auto unknown = bytes;
  unknown[1] = 0x7f;
  EXPECT_FALSE(decodeOpen(unknown));
  EXPECT_FALSE(decodeOpen(encodeAck()));
}
