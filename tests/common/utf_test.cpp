#include "common/utf.h"

#include <gtest/gtest.h>

using namespace dravnok;

TEST(Utf, EveryPlaneRoundTripsAndIllFormedInputBecomesReplacementCharacters) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"a\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80", u"a\u00E9\u2014\U0001F600"},
      {"\xFF", u"\uFFFD"},
      {"a\xE2\x80", u"a\uFFFD"},    // truncated sequence
      {"\xC0\xAF", u"\uFFFD"},      // overlong
      {"\xED\xA0\x80", u"\uFFFD"}}; // encoded surrogate
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(utf8ToUtf16(utf8), utf16) << utf8;
  EXPECT_EQ(utf16ToUtf8(cases[0].second), cases[0].first);
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx"); // lone surrogate
}
