#include "clipboard/base64.h"

#include <gtest/gtest.h>

using namespace dravnok::clipboard;

TEST(Base64, RoundTripsEveryLengthAndByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t length = 0; length <= all.size(); length += (length < 8 ? 1 : 37)) {
    std::string bytes = all.substr(all.size() - length);
    std::string text = base64Encode(bytes);
    EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
    EXPECT_EQ(base64Decode(text), bytes) << length;
  }
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Encode("\xFB\xFF"), "+/8=");
}

TEST(Base64, DecoderSkipsForeignBytesAndStopsAtPadding) {
  EXPECT_EQ(base64Decode("Zm9v\r\nYm Fy\t"), "foobar");
  EXPECT_EQ(base64Decode("Zm8=Zm9v"), "fo"); // nothing after the first '=' counts
  EXPECT_EQ(base64Decode("Zg"), "f");        // missing padding is fine
  EXPECT_EQ(base64Decode("Z"), "");          // a lone character makes no byte
  EXPECT_EQ(base64Decode(std::string("Z\0g\x80\xFF=", 6)), "f");
  EXPECT_EQ(base64Decode("-_"), "");
}
