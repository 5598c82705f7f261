#include "relay/pipe_format.h"

#include <gtest/gtest.h>

namespace dravnok::relay {
namespace {

TEST(DisplayMessage, ExactTextWithSizesRaisedToOne) {
  EXPECT_EQ(displayMessage(1920, 1080, -1920, 0), R"({"type":"_display","w":1920,"h":1080,"l":-1920,"t":0})");
  EXPECT_EQ(displayMessage(0, -5, 10, -20), R"({"type":"_display","w":1,"h":1,"l":10,"t":-20})");
}

TEST(PipeName, HostPidAndLowercaseNonce) {
  NonceBytes bytes{};
  for (unsigned i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i);
  const std::string nonce = nonceHex(bytes);
  EXPECT_EQ(nonce, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  const std::string name = pipeName(4321, nonce);
  EXPECT_EQ(name, R"(\\.\pipe\dravnok-input-4321-f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff)");
  EXPECT_EQ(relayParameters(name, 4321, 77), "--pipe " + name + " --helper 4321 --agent 77");
}

TEST(PipeName, CounterNonceMixesEachByteWithItsIndex) {
  const NonceBytes bytes = nonceFromCounter(0x0807060504030201ull);
  // Byte i takes counter byte i mod 8, xor 131*i, low 8 bits.
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[1], 0x02 ^ 131);
  EXPECT_EQ(bytes[8], static_cast<uint8_t>(0x01 ^ (131 * 8)));
  EXPECT_EQ(bytes[15], static_cast<uint8_t>(0x08 ^ (131 * 15)));
  EXPECT_EQ(nonceHex(bytes).size(), 32u);
}

TEST(PipeLine, RawLineBreaksInsideAMessageAreRemoved) {
  EXPECT_EQ(pipeLine("{\"type\":\"move\",\r\n\"x\":0.5,\n\"y\":0.25}"), R"({"type":"move","x":0.5,"y":0.25})");
  const std::string plain = R"({"type":"text","text":"a\nb"})"; // escaped, not raw: unchanged
  EXPECT_EQ(pipeLine(plain), plain);
}

} // namespace
} // namespace dravnok::relay
