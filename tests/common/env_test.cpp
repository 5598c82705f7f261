#include "common/env.h"

#include <gtest/gtest.h>

using namespace dravnok;

TEST(Env, FlagIsOnForShortValuesWithATrueFirstCharacter) {
  for (const char* on : {"1", "T", "true", "Yes", "y", "1234567"}) EXPECT_TRUE(isFlagOn(on)) << on;
  for (const char* off : {"", "0", "false", "no", "on", "12345678", "yes-please"}) EXPECT_FALSE(isFlagOn(off)) << off;
}

TEST(Env, NumbersBelowOneOrNotDecimalAreIgnored) {
  EXPECT_EQ(parsePositiveNumber("4"), 4);
  EXPECT_EQ(parsePositiveNumber("16x"), 16); // read as a decimal prefix
  EXPECT_EQ(parsePositiveNumber("0"), std::nullopt);
  EXPECT_EQ(parsePositiveNumber("-3"), std::nullopt);
  EXPECT_EQ(parsePositiveNumber("x"), std::nullopt);
  EXPECT_EQ(parsePositiveNumber(""), std::nullopt);
}
