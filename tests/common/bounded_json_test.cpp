#include "common/bounded_json.h"

#include <gtest/gtest.h>

using namespace dravnok;

namespace {

std::string nested(int depth, std::string_view inner = "1") {
  return std::string(size_t(depth), '[') + std::string(inner) + std::string(size_t(depth), ']');
}

} // namespace

TEST(BoundedJson, RefusesDeepAndLongTextAndSaysWhy) {
  std::string why;
  EXPECT_TRUE(parseBoundedJson(nested(4), 100, 4, &why));
  EXPECT_EQ(why, "");
  EXPECT_FALSE(parseBoundedJson(nested(5), 100, 4, &why));
  EXPECT_EQ(why, "nested more than 4 levels deep");
  // Deep but unfinished text never becomes a tree either.
  EXPECT_FALSE(parseBoundedJson(std::string(100, '['), 1000, 4, &why));
  EXPECT_EQ(why, "nested more than 4 levels deep");

  EXPECT_TRUE(parseBoundedJson("\"abcd\"", 6, 4, &why));
  EXPECT_FALSE(parseBoundedJson("\"abcde\"", 6, 4, &why));
  EXPECT_EQ(why, "7 bytes, more than 6");

  // Not JSON is no broken limit; brackets inside strings are no nesting.
  EXPECT_FALSE(parseBoundedJson("{\"a\":1} {}", 100, 4, &why));
  EXPECT_EQ(why, "");
  auto value = parseBoundedJson(R"({"t":"[[[[[[[["})", 100, 1, &why);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->at("t").get<std::string>(), "[[[[[[[[");
}
