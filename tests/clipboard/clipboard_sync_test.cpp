#include "clipboard/base64.h"
#include "clipboard/clip_watch_message.h"
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
  EXPECT_EQ(base64Encode("\xFB\xFF"), "+/8=");
  // Foreign bytes are skipped, nothing after the first '=' counts, padding may be missing.
  const std::pair<std::string, std::string> decoded[] = {
      {"Zm9v\r\nYm Fy\t", "foobar"},         {"Zm8=Zm9v", "fo"}, {"Zg", "f"}, {"Z", ""}, {"-_", ""},
      {std::string("Z\0g\x80\xFF=", 6), "f"}};
  for (const auto& [text, bytes] : decoded) EXPECT_EQ(base64Decode(text), bytes) << text;
}

TEST(ParseClipWatch, ReadsTheSwitchFromRawText) {
  const std::pair<const char*, int> cases[] = {{R"({"type":"clipwatch","on":false})", 0},
                                               {"{\"type\":\"clipwatch\",\"on\":\t 0}", 0},
                                               {R"({"on":false,"type":"clipwatch"})", 0},
                                               {R"({"type":"clipwatch"})", 1},
                                               {R"({"type":"clipwatch","on":true})", 1},
                                               {R"({"type":"clipwatch","on":"no"})", 1},
                                               {R"("clipwatch" "on":)", 1},
                                               {R"({"type":"clipboard","text":"the clipwatch"})", -1},
                                               {R"({"type":"clipWatch","on":0})", -1},
                                               {"", -1}};
  for (const auto& [text, on] : cases) EXPECT_EQ(parseClipWatch(text), on) << text;
}

// The watcher asks for our latest write's sequence number: at once when no
// write is under way, after one that ends, and after 250 ms for one that hangs.
TEST(ClipboardState, SettledSequenceWaitsForWritesUnderWayButNotForEver) {
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
    for (bool viewOnly : {false, true}) {
      ClipboardState state(viewOnly);
      std::optional<std::string> image;
      for (size_t i = 0; i < c.chunks.size(); ++i) {
        const auto& [seq, total, data] = c.chunks[i];
        image = collectImageChunk(state, seq, total, data);
        if (i + 1 < c.chunks.size()) {
          EXPECT_FALSE(image) << c.name << " at " << i;
        }
      }
      EXPECT_EQ(image, viewOnly ? std::nullopt : c.image) << c.name;
      EXPECT_EQ(state.pendingTotal + state.pendingCount, 0) << c.name;
      EXPECT_TRUE(state.pendingImage.empty()) << c.name;
    }
  }
}

TEST(PushClipboard, TextFirstThenImageChunksAtTheBoundaryThatReassemble) {
  std::vector<std::string> sent;
  ClipboardSender sender = [&](const std::string& message) { sent.push_back(message); };
  // Compact raw UTF-8; ill-formed text is replaced, not lost.
  pushClipboard("\xF0\x9F\x98\x80 \"q\"", "", sender);
  pushClipboard("bad \xFF text", "", sender);
  pushClipboard("", "", sender);
  pushClipboard("text", "png", ClipboardSender{}); // no sender: nothing, no crash
  EXPECT_EQ(sent, (std::vector<std::string>{"{\"text\":\"\xF0\x9F\x98\x80 \\\"q\\\"\",\"type\":\"clipdata\"}",
                                            "{\"text\":\"bad \xEF\xBF\xBD text\",\"type\":\"clipdata\"}"}));

  // 12000 bytes are exactly 16000 base64 characters: one chunk; 12001 give 16004: two.
  for (size_t size : {12000, 12001, 40000}) {
    std::string png;
    for (size_t i = 0; i < size; ++i) png += static_cast<char>(i * 7919 % 251);
    sent.clear();
    pushClipboard("h", png, sender);
    const size_t chunks = (size + 11999) / 12000;
    ASSERT_EQ(sent.size(), 1 + chunks);
    EXPECT_EQ(nlohmann::json::parse(sent[0]), (nlohmann::json{{"type", "clipdata"}, {"text", "h"}}));
    ClipboardState state(false);
    std::optional<std::string> received;
    for (size_t i = 1; i < sent.size(); ++i) {
      const auto chunk = nlohmann::json::parse(sent[i]);
      EXPECT_EQ(chunk["type"], "clipimgdata");
      EXPECT_EQ(chunk["total"], chunks);
      if (i < chunks) {
        EXPECT_EQ(chunk["data"].get<std::string>().size(), 16000u);
      }
      received = collectImageChunk(state, chunk["seq"], chunk["total"], chunk["data"].get<std::string>());
    }
    EXPECT_EQ(received, png) << size;
  }
}
