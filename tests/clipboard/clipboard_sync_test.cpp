#include "clipboard/base64.h"
#include "clipboard/clip_watch_message.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_limits.h"
#include "clipboard/clipboard_sync.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>
#include <vector>

using namespace dravnok::clipboard;
using Clock = std::chrono::steady_clock;

TEST(Base64, RoundTripsEveryLengthAndDecodesLeniently) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t length = 0; length <= all.size(); length += (length < 8 ? 1 : 37)) {
    const std::string bytes = all.substr(all.size() - length), text = base64Encode(bytes);
    EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
    EXPECT_EQ(base64Decode(text), bytes) << length;
  }
  // Foreign bytes are skipped, nothing after the first '=' counts, padding may be missing.
  const std::pair<std::string, std::string> decoded[] = {
      {"Zm9v\r\nYm Fy\t", "foobar"}, {"Zm8=Zm9v", "fo"}, {"Zg", "f"}, {std::string("Z\0g\x80\xFF=", 6), "f"}};
  for (const auto& [text, bytes] : decoded) EXPECT_EQ(base64Decode(text), bytes) << text;
}

TEST(ParseClipWatch, ReadsTheSwitchFromRawText) {
  const std::pair<const char*, int> cases[] = {{R"({"type":"clipwatch","on":false})", 0},
                                               {"{\"type\":\"clipwatch\",\"on\":\t 0}", 0},
                                               {R"({"type":"clipwatch"})", 1},
                                               {R"("clipwatch" "on":)", 1},
                                               {R"({"type":"clipboard","text":"the clipwatch"})", -1},
                                               {R"({"type":"clipWatch","on":0})", -1},
                                               {"", -1}};
  for (const auto& [text, on] : cases) EXPECT_EQ(parseClipWatch(text), on) << text;
}

// The watcher asks for our latest write's sequence number: at once when no
// write is under way, after one that ends, and after 250 ms for one that hangs.
TEST(ClipboardState, SettledSequenceWaitsForWritesUnderWayButNotForEverAndViewOnlyWritesNothing) {
  ClipboardState state(false);
  state.ownClipboardSequence = 7;
  auto start = Clock::now();
  EXPECT_EQ(state.settledOwnSequence(), 7u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  state.writesInProgress = 1;
  start = Clock::now();
  EXPECT_EQ(state.settledOwnSequence(), 7u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
  state.writesInProgress = 2;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state.ownClipboardSequence = 8;
    state.writesInProgress -= 2;
  });
  EXPECT_EQ(state.settledOwnSequence(), 8u);
  writer.join();

  // A view-only session writes nothing, and what is no PNG is not written
  // (the platforms' writes refuse both on their own); a 1 x 1 PNG.
  const std::string png =
      base64Decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGNgZGJmAQAAGQAL51pGpAAAAABJRU5ErkJggg==");
  ClipboardState viewOnly(true), writable(false);
  writeClipboardText(viewOnly, "ours");
  EXPECT_FALSE(writeClipboardPng(viewOnly, png));
  EXPECT_EQ(collectImageChunk(viewOnly, 0, 1, base64Encode(png)), std::nullopt);
  EXPECT_EQ(viewOnly.ownClipboardSequence.load(), 0u);
  EXPECT_FALSE(writeClipboardPng(writable, "not a png at all"));
}

TEST(ImageChunks, OnlyAWholeRunOfChunksInOrderMakesAnImage) {
  struct Case {
    const char* name;
    std::vector<std::tuple<int, int, std::string>> chunks;
    std::optional<std::string> image;
  };
  const std::string tooLong((kMaxClipboardBytes + 2) / 3 * 4, 'A');
  const Case cases[] = {
      {"in order", {{0, 3, "QUFB"}, {1, 3, "QkJC"}, {2, 3, "Q0ND"}}, "AAABBBCCC"},
      {"a single chunk", {{0, 1, "eA=="}}, "x"},
      {"a new first chunk restarts", {{0, 3, "T0xE"}, {1, 3, "T0xE"}, {0, 2, "TkVX"}, {1, 2, "TkVX"}}, "NEWNEW"},
      {"repeated", {{0, 3, "QUFB"}, {1, 3, "QkJC"}, {1, 3, "QkJC"}, {2, 3, "Q0ND"}}, std::nullopt},
      {"a foreign total", {{0, 2, "QUFB"}, {1, 3, "QkJC"}, {1, 2, "QkJC"}}, std::nullopt},
      {"skipped", {{0, 3, "QUFB"}, {2, 3, "Q0ND"}}, std::nullopt},
      {"no start", {{1, 2, "QkJC"}}, std::nullopt},
      {"total 0", {{0, 2, "QUFB"}, {0, 0, "QkJC"}, {1, 2, "QkJC"}}, std::nullopt},
      {"seq -1", {{0, 2, "QUFB"}, {-1, 2, "QkJC"}, {1, 2, "QkJC"}}, std::nullopt},
      {"seq past the total", {{0, 2, "QUFB"}, {2, 2, "QkJC"}, {1, 2, "QkJC"}}, std::nullopt},
      {"longer than the limit", {{0, 2, tooLong}, {1, 2, "QUFB"}}, std::nullopt},
  };
  for (const Case& c : cases) {
    ClipboardState state(false);
    std::optional<std::string> image;
    for (size_t i = 0; i < c.chunks.size(); ++i) {
      EXPECT_FALSE(image) << c.name << " before " << i;
      image = collectImageChunk(state, std::get<0>(c.chunks[i]), std::get<1>(c.chunks[i]), std::get<2>(c.chunks[i]));
    }
    EXPECT_EQ(image, c.image) << c.name;
    EXPECT_EQ(std::tie(state.pendingImage, state.pendingTotal, state.pendingCount), std::tuple(std::string(), 0, 0))
        << c.name;
  }
}

// The watcher's pushes; text and large images are the browser session story's.
TEST(PushClipboard, IllFormedTextIsReplacedAndImageChunksReassemble) {
  std::vector<std::string> sent;
  ClipboardSender sender = [&](const std::string& message) { sent.push_back(message); };
  pushClipboard("bad \xFF text", "", sender);
  pushClipboard("", "", sender);
  pushClipboard("text", "png", ClipboardSender{}); // no sender: nothing, no crash
  EXPECT_EQ(sent, std::vector<std::string>{"{\"text\":\"bad \xEF\xBF\xBD text\",\"type\":\"clipdata\"}"});

  // 12001 bytes are 16004 base64 characters: two chunks.
  const std::string png(12001, '\x89');
  sent.clear();
  pushClipboard("", png, sender);
  ASSERT_EQ(sent.size(), 2u);
  ClipboardState state(false);
  std::optional<std::string> received;
  for (const auto& message : sent) {
    const auto chunk = nlohmann::json::parse(message);
    received = collectImageChunk(state, chunk["seq"], chunk["total"], chunk["data"].get<std::string>());
  }
  EXPECT_EQ(received, png);
}
