#include "common/env.h"

#include <gtest/gtest.h>

using namespace dravnok;

// A flag is on for short values with a true first character; numbers below
// one or not decimal are ignored.
TEST(Env, FlagsAndNumbers) {
  for (const char* on : {"1", "T", "true", "Yes", "y", "1234567"}) EXPECT_TRUE(isFlagOn(on)) << on;
  for (const char* off : {"", "0", "false", "no", "on", "12345678", "yes-please"}) EXPECT_FALSE(isFlagOn(off)) << off;
  const std::pair<const char*, std::optional<int>> numbers[] = {
      {"4", 4}, {"16x", 16}, {"0", std::nullopt}, {"-3", std::nullopt}, {"x", std::nullopt}, {"", std::nullopt}};
  for (const auto& [text, number] : numbers) EXPECT_EQ(parsePositiveNumber(text), number) << text; // "16x": a prefix
}
