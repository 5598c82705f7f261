#include "clipboard/clipboard.h"
#include "clipboard/win32/clipboard_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace dravnok::clipboard;

namespace {

// Puts a raw block on the clipboard as another program would.
void placeRaw(UINT format, const std::vector<uint8_t>& bytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(handle), bytes.data(), bytes.size());
  GlobalUnlock(handle);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  EXPECT_TRUE(SetClipboardData(format, handle));
  CloseClipboard();
}

} // namespace

// Other programs' blocks are read no further than their own size says.
TEST(WindowsClipboard, OtherProgramsBlocksAreReadWithinTheirSize) {
  // A bitmap header that claims far more rows than the block holds.
  std::vector<uint8_t> dib(64, 0);
  const int32_t header[] = {40, 1000, 1000, 1 | 32 << 16}; // size, width, height, planes and bits
  std::memcpy(dib.data(), header, sizeof header);
  placeRaw(CF_DIB, dib);
  EXPECT_EQ(readClipboardImagePng(), "");

  // Text without its terminating zero ends with its block.
  placeRaw(CF_UNICODETEXT, {'a', 0, 'b', 0});
  const std::string text = readClipboardText();
  EXPECT_EQ(text, std::string("ab").substr(0, text.size()));
}
