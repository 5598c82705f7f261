// Text and images both ways are the Wine session story's and the clipboard
// modes test's (which runs under Wine too), view-only writes the clipboard
// state test's; here what other programs may place.
#include "clipboard/clipboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <windows.h>

using namespace dravnok::clipboard;

namespace {

// Puts a raw block on the clipboard as another program would.
bool placeRaw(UINT format, const std::vector<uint8_t>& bytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(handle), bytes.data(), bytes.size());
  GlobalUnlock(handle);
  if (!OpenClipboard(nullptr)) return GlobalFree(handle), false;
  EmptyClipboard();
  bool placed = SetClipboardData(format, handle) != nullptr;
  CloseClipboard();
  return placed;
}

} // namespace

TEST(WindowsClipboard, BlocksOfOtherProgramsAreReadNoFurtherThanTheyReach) {
  // A 1000 x 1000 32-bit header on a block of 64 bytes.
  std::vector<uint8_t> hostile = {40, 0, 0, 0, 0xE8, 3, 0, 0, 0xE8, 3, 0, 0, 1, 0, 32, 0};
  hostile.resize(64);
  ASSERT_TRUE(placeRaw(CF_DIB, hostile));
  EXPECT_EQ(readClipboardImagePng(), "");

  // Text without its terminating zero ends with its block.
  ASSERT_TRUE(placeRaw(CF_UNICODETEXT, {'a', 0, 'b', 0}));
  std::string text = readClipboardText();
  EXPECT_LE(text.size(), 2u);
  EXPECT_EQ(text, std::string("ab").substr(0, text.size()));
}
