#include "transport/sctp_checksum.hpp"

#include <gtest/gtest.h>
#include <usrsctp.h>

#include <cstring>
#include <random>
#include <vector>

using rtc::impl::sctpChecksum;

// A wrong checksum makes every peer drop every packet we send, so ours must
// agree with usrsctp's own at every length and alignment (the fast path works
// in eight-byte steps).
TEST(SctpChecksum, MatchesUsrsctpAtEveryLengthAndAlignment) {
  std::mt19937 random(7);
  std::vector<uint8_t> data(1300 + 8);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  for (size_t offset : {0, 1, 3, 7}) {
    for (size_t size : {0, 1, 7, 8, 9, 12, 100, 1191, 1200}) {
      EXPECT_EQ(sctpChecksum(data.data() + offset, size), usrsctp_crc32c(data.data() + offset, size))
          << "offset " << offset << " size " << size;
    }
  }

  // In a packet: the field at octet 8, computed over the packet with it zero;
  // a packet too short to hold it is left alone.
  std::vector<uint8_t> packet(64, 0x11);
  rtc::impl::setSctpChecksum(packet.data(), packet.size());
  uint32_t field;
  std::memcpy(&field, packet.data() + 8, 4);
  std::memset(packet.data() + 8, 0, 4);
  EXPECT_EQ(field, usrsctp_crc32c(packet.data(), packet.size()));
  std::vector<uint8_t> tiny(11, 0x22);
  rtc::impl::setSctpChecksum(tiny.data(), tiny.size());
  EXPECT_EQ(tiny, std::vector<uint8_t>(11, 0x22));
}
