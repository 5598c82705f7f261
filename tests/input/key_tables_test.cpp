#include "input/key_tables.h"

#include <gtest/gtest.h>

#include <string>

using namespace dravnok;

TEST(KeyTables, GeneratedFamiliesCoverTheirWholeRange) {
  for (char c = 'A'; c <= 'Z'; ++c) EXPECT_EQ(lookupCode(std::string("Key") + c), (KeyInfo{uint16_t(c), 0})) << c;
  for (char c = '0'; c <= '9'; ++c) EXPECT_EQ(lookupCode(std::string("Digit") + c), (KeyInfo{uint16_t(c), 0})) << c;
  for (int n = 1; n <= 24; ++n)
    EXPECT_EQ(lookupCode(std::string("F").append(std::to_string(n))), (KeyInfo{uint16_t(0x6F + n), 0})) << n;
  for (int n = 0; n <= 9; ++n)
    EXPECT_EQ(lookupCode(std::string("Numpad").append(std::to_string(n))), (KeyInfo{uint16_t(0x60 + n), 0}));
  EXPECT_EQ(lookupCode("F24")->vk, 0x87);
  EXPECT_EQ(lookupCode("Numpad5"), (KeyInfo{0x65, 0}));
}

TEST(KeyTables, NamesOutsideTheFamiliesAreNotFound) {
  for (const char* name : {"keya", "Key", "KeyAA", "Key1", "F0", "F25", "F01", "Digit", "Numpad10", "numpad1", "",
                           "IntlBackslash", "AudioVolumeUp", "Lang1", "ControlLeft "}) {
    EXPECT_FALSE(lookupCode(name)) << '"' << name << '"';
  }
}

TEST(KeyTables, SidesAndExtendedFlagsOfListedKeys) {
  EXPECT_EQ(lookupCode("NumpadEnter"), (KeyInfo{0x0D, 1}));
  EXPECT_EQ(lookupCode("Enter"), (KeyInfo{0x0D, 0}));
  EXPECT_EQ(lookupCode("ControlRight"), (KeyInfo{0xA3, 1}));
  EXPECT_EQ(lookupCode("ShiftRight"), (KeyInfo{0xA1, 0}));
}

TEST(KeyTables, KeyNameTableHoldsOnlyEditingAndArrowKeys) {
  EXPECT_EQ(lookupKeyName("Delete"), (KeyInfo{0x2E, 1}));
  EXPECT_EQ(lookupKeyName("Enter"), (KeyInfo{0x0D, 0}));
  EXPECT_EQ(lookupKeyName("ArrowRight"), (KeyInfo{0x27, 1}));
  for (const char* name : {"a", "A", "PageUp", "Insert", "KeyA", "enter", " ", ""}) {
    EXPECT_FALSE(lookupKeyName(name)) << '"' << name << '"';
  }
}
