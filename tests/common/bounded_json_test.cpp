#include "common/bounded_json.h"

#include <gtest/gtest.h>

using namespace dravnok;

// The refusals' wording is pinned where they are logged (the control loop's
// and the input channel's tests); here: the limits' edges and the scanner.
TEST(BoundedJson, LimitsAreInclusiveAndBracketsInStringsAreNoNesting) {
  std::string why = "stale";
  EXPECT_TRUE(parseBoundedJson("[[[[1]]]]", 100, 4, &why));
  EXPECT_EQ(why, "");
  EXPECT_TRUE(parseBoundedJson("\"abcd\"", 6, 4, &why));
  // Deep but unfinished text never becomes a tree either.
  EXPECT_FALSE(parseBoundedJson(std::string(100, '['), 1000, 4, &why));
  EXPECT_EQ(why, "nested more than 4 levels deep");
  auto value = parseBoundedJson(R"({"t":"[[[[[[[["})", 100, 1, &why);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->at("t").get<std::string>(), "[[[[[[[[");
}
