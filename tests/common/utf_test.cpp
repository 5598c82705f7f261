#include "common/utf.h"

#include <gtest/gtest.h>

using namespace dravnok;

TEST(Utf, RoundTripsEveryPlane) {
  std::string text = "a\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80"; // a é — 😀
  std::u16string wide = utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x2014, 0xD83D, 0xDE00}));
  EXPECT_EQ(utf16ToUtf8(wide), text);
}

TEST(Utf, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(utf8ToUtf16("a\xE2\x80"), u"a\uFFFD");                       // truncated sequence
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD");                         // overlong
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");                     // encoded surrogate
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx"); // lone surrogate
}
