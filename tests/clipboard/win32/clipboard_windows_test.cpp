#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"
#include "clipboard/clipboard_watcher.h"
#include "clipboard/png_codec.h"
#include "clipboard/win32/clipboard_windows.h"
#include "clipboard/win32/com.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

using namespace dravnok::clipboard;
using namespace std::chrono_literals;

namespace {

class WindowsClipboard : public ::testing::Test {
protected:
  ComApartment com_;
};

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

std::vector<uint8_t> dibHeader(int32_t width, int32_t height, uint16_t bitCount) {
  std::vector<uint8_t> header(40, 0);
  uint32_t size = 40;
  uint16_t planes = 1;
  std::memcpy(&header[0], &size, 4);
  std::memcpy(&header[4], &width, 4);
  std::memcpy(&header[8], &height, 4);
  std::memcpy(&header[12], &planes, 2);
  std::memcpy(&header[14], &bitCount, 2);
  return header;
}

BgraImage sample() {
  // B G R A; the alpha varies so that it must survive exactly.
  return {3, 2, {1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 0, 10, 11, 12, 255, 13, 14, 15, 64, 16, 17, 18, 255}};
}

} // namespace

TEST_F(WindowsClipboard, TextBeyondTheBasicPlaneRoundTripsAndRecordsTheSequence) {
  ClipboardState state(false);
  const std::string text = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E";
  writeClipboardText(state, text);
  EXPECT_EQ(state.ownClipboardSequence.load(), GetClipboardSequenceNumber());
  EXPECT_EQ(readClipboardText(), text);
  EXPECT_EQ(readClipboardImagePng(), "");

  writeClipboardText(state, "");
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(readClipboardText(), "");
}

TEST_F(WindowsClipboard, ImageIsWrittenAsABottomUpThirtyTwoBitDibAndReadBack) {
  ClipboardState state(false);
  const BgraImage image = sample();
  const std::string png = encodePng(image.width, image.height, image.pixels);
  ASSERT_FALSE(png.empty());
  ASSERT_TRUE(writeClipboardPng(state, png));
  EXPECT_EQ(state.ownClipboardSequence.load(), GetClipboardSequenceNumber());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));

  // The block's layout is the bitmap writer's (see the bitmap tests): here only its size.
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_DIB);
  EXPECT_EQ(data ? GlobalSize(data) : 0, 40u + 3 * 2 * 4);
  CloseClipboard();

  auto back = decodePng(readClipboardImagePng());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixels, image.pixels);
  EXPECT_EQ(readClipboardText(), "");

  EXPECT_FALSE(writeClipboardPng(state, "not a png"));
  EXPECT_FALSE(writeClipboardPng(state, ""));
}

TEST_F(WindowsClipboard, BitmapsOfOtherProgramsAreReadSafely) {
  // 24-bit, width 3, bottom-up: opaque and top-down in the PNG.
  auto dib = dibHeader(3, 2, 24);
  for (int i = 0; i < 12; ++i) dib.push_back(static_cast<uint8_t>(10 + i));
  for (int i = 0; i < 12; ++i) dib.push_back(static_cast<uint8_t>(30 + i));
  ASSERT_TRUE(placeRaw(CF_DIB, dib));
  auto image = decodePng(readClipboardImagePng());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 3);
  EXPECT_EQ(std::vector<uint8_t>(image->pixels.begin(), image->pixels.begin() + 8),
            (std::vector<uint8_t>{30, 31, 32, 255, 33, 34, 35, 255}));

  // A header that claims far more rows than the block holds (the bitmap
  // tests go through the other malformed headers).
  auto hostile = dibHeader(1000, 1000, 32);
  hostile.resize(64);
  ASSERT_TRUE(placeRaw(CF_DIB, hostile));
  EXPECT_EQ(readClipboardImagePng(), "");

  // Text without its terminating zero ends with its block.
  const std::vector<uint8_t> unterminated = {'a', 0, 'b', 0};
  ASSERT_TRUE(placeRaw(CF_UNICODETEXT, unterminated));
  std::string text = readClipboardText();
  EXPECT_LE(text.size(), 2u);
  EXPECT_EQ(text, std::string("ab").substr(0, text.size()));
}

TEST_F(WindowsClipboard, ViewOnlyWritesChangeNothing) {
  ClipboardState writer(false);
  writeClipboardText(writer, "before");
  const DWORD sequence = GetClipboardSequenceNumber();
  ClipboardState viewOnly(true);
  writeClipboardText(viewOnly, "after");
  const BgraImage image = sample();
  EXPECT_FALSE(writeClipboardPng(viewOnly, encodePng(image.width, image.height, image.pixels)));
  acceptImageChunk(viewOnly, 0, 1, base64Encode(encodePng(image.width, image.height, image.pixels)));
  EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
  EXPECT_EQ(readClipboardText(), "before");
  EXPECT_EQ(viewOnly.ownClipboardSequence.load(), 0u);
  // A null handle is no write.
  EXPECT_FALSE(placeOnClipboard(writer, CF_UNICODETEXT, nullptr));
}

TEST_F(WindowsClipboard, WatcherPushesOtherProgramsChangesOnly) {
  ClipboardState state(false);
  writeClipboardText(state, "present before");
  ClipboardState other(false); // stands for another program
  std::mutex mutex;
  std::vector<std::string> sent, log;
  ClipboardWatcher watcher({.ready = {},
                            .ownSequence = [&] { return state.settledOwnSequence(); },
                            .send =
                                [&](const std::string& message) {
                                  std::lock_guard lock(mutex);
                                  sent.push_back(message);
                                },
                            .log =
                                [&](const std::string& level, const std::string& message) {
                                  std::lock_guard lock(mutex);
                                  log.push_back(level + " " + message);
                                }});
  watcher.setClipWatch(true);
  auto waitFor = [&](auto condition) {
    for (int i = 0; i < 250; ++i) {
      {
        std::lock_guard lock(mutex);
        if (condition()) return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  };
  ASSERT_TRUE(waitFor([&] { return !log.empty(); }));
  writeClipboardText(state, "our own write");
  writeClipboardText(other, "their change");
  ASSERT_TRUE(waitFor([&] { return !sent.empty(); }));
  std::this_thread::sleep_for(300ms);
  watcher.setClipWatch(false);
  std::lock_guard lock(mutex);
  // Another program's write may step the sequence number more than once
  // (Wine's does), so its content may go out twice; ours never does.
  ASSERT_FALSE(sent.empty());
  for (const auto& message : sent) EXPECT_EQ(message, R"({"text":"their change","type":"clipdata"})");
  ASSERT_EQ(log.size(), sent.size() + 2);
  EXPECT_EQ(log.front(), "info clipboard watcher started");
  EXPECT_EQ(log.back(), "info clipboard watcher stopped");
  for (size_t i = 1; i + 1 < log.size(); ++i)
    EXPECT_EQ(log[i], "info clipboard change pushed to viewer (12b text, 0b png)");
}
