#include "clipboard/base64.h"
#include "clipboard/clipboard_limits.h"
#include "clipboard/clipboard_sync.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <vector>

using namespace dravnok::clipboard;

namespace {

// Feeds chunks (seq, total, data) and returns what each one completed.
std::vector<std::optional<std::string>> feed(ClipboardState& state,
                                             std::vector<std::tuple<int, int, std::string>> chunks) {
  std::vector<std::optional<std::string>> results;
  for (auto& [seq, total, data] : chunks) results.push_back(collectImageChunk(state, seq, total, data));
  return results;
}

std::string pieces(std::string_view bytes, size_t parts, size_t index) {
  std::string text = base64Encode(bytes);
  size_t size = (text.size() + parts - 1) / parts;
  return text.substr(index * size, size);
}

} // namespace

TEST(ImageChunks, InOrderChunksCompleteTheImage) {
  ClipboardState state(false);
  const std::string png = "\x89PNG\r\n\x1a\n-some-image-bytes-";
  auto results = feed(state, {{0, 3, pieces(png, 3, 0)}, {1, 3, pieces(png, 3, 1)}, {2, 3, pieces(png, 3, 2)}});
  EXPECT_FALSE(results[0]);
  EXPECT_FALSE(results[1]);
  ASSERT_TRUE(results[2]);
  EXPECT_EQ(*results[2], png);
  EXPECT_EQ(state.pendingTotal, 0);
  EXPECT_TRUE(state.pendingImage.empty());
  // A single chunk is an image of its own.
  EXPECT_EQ(collectImageChunk(state, 0, 1, base64Encode("x")), "x");
}

TEST(ImageChunks, RepeatedForeignOrOutOfRangeChunksDiscardTheImage) {
  ClipboardState state(false);
  auto repeated = feed(state, {{0, 3, "QUFB"}, {1, 3, "QkJC"}, {1, 3, "QkJC"}, {2, 3, "Q0ND"}});
  for (auto& r : repeated) EXPECT_FALSE(r);
  EXPECT_EQ(state.pendingTotal, 0);

  auto foreign = feed(state, {{0, 2, "QUFB"}, {1, 3, "QkJC"}, {1, 2, "QkJC"}});
  for (auto& r : foreign) EXPECT_FALSE(r);

  auto skipped = feed(state, {{0, 3, "QUFB"}, {2, 3, "Q0ND"}});
  for (auto& r : skipped) EXPECT_FALSE(r);

  for (auto [seq, total] : {std::pair{0, 0}, {-1, 2}, {2, 2}}) {
    feed(state, {{0, 2, "QUFB"}});
    EXPECT_FALSE(collectImageChunk(state, seq, total, "QkJC"));
    EXPECT_EQ(state.pendingTotal, 0);
    EXPECT_EQ(state.pendingCount, 0);
    EXPECT_TRUE(state.pendingImage.empty());
  }
  // A chunk without a start is dropped, as in an idle state.
  EXPECT_FALSE(collectImageChunk(state, 1, 2, "QkJC"));
}

TEST(ImageChunks, AnImageLongerThanTheLimitIsDiscarded) {
  ClipboardState state(false);
  EXPECT_FALSE(collectImageChunk(state, 0, 2, std::string((kMaxClipboardBytes + 2) / 3 * 4, 'A')));
  EXPECT_FALSE(collectImageChunk(state, 1, 2, "QUFB"));
  EXPECT_TRUE(state.pendingImage.empty());
}

TEST(ImageChunks, NewFirstChunkRestartsWithTheNewImage) {
  ClipboardState state(false);
  auto results = feed(state, {{0, 3, "T0xE"}, {1, 3, "T0xE"}, {0, 2, "TkVX"}, {1, 2, "TkVX"}});
  ASSERT_TRUE(results[3]);
  EXPECT_EQ(*results[3], "NEWNEW");
}

TEST(ImageChunks, ViewOnlyStateTakesNothing) {
  ClipboardState state(true);
  EXPECT_FALSE(collectImageChunk(state, 0, 1, "QUFB"));
  EXPECT_FALSE(collectImageChunk(state, 0, 2, "QUFB"));
  EXPECT_EQ(state.pendingTotal, 0);
  EXPECT_TRUE(state.pendingImage.empty());
}

TEST(PushClipboard, TextFirstThenImageChunksAtTheBoundary) {
  std::vector<nlohmann::json> sent;
  ClipboardSender sender = [&](const std::string& message) { sent.push_back(nlohmann::json::parse(message)); };

  // 12000 bytes are exactly 16000 base64 characters: one chunk.
  pushClipboard("h\xC3\xA9", std::string(12000, '\x07'), sender);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], (nlohmann::json{{"type", "clipdata"}, {"text", "h\xC3\xA9"}}));
  EXPECT_EQ(sent[1]["type"], "clipimgdata");
  EXPECT_EQ(sent[1]["seq"], 0);
  EXPECT_EQ(sent[1]["total"], 1);
  EXPECT_EQ(sent[1]["data"].get<std::string>().size(), 16000u);

  // 12001 bytes give 16004 characters: two chunks, the second of 4.
  sent.clear();
  const std::string png(12001, '\x5A');
  pushClipboard("", png, sender);
  ASSERT_EQ(sent.size(), 2u);
  std::string joined;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(sent[i]["seq"], i);
    EXPECT_EQ(sent[i]["total"], 2);
    joined += sent[i]["data"].get<std::string>();
  }
  EXPECT_EQ(sent[1]["data"].get<std::string>().size(), 4u);
  EXPECT_EQ(base64Decode(joined), png);

  sent.clear();
  pushClipboard("", "", sender);
  EXPECT_TRUE(sent.empty());
  pushClipboard("text", "png", ClipboardSender{}); // no sender: nothing, no crash
}

TEST(PushClipboard, MessagesAreCompactRawUtf8AndSurviveBrokenText) {
  std::vector<std::string> sent;
  ClipboardSender sender = [&](const std::string& message) { sent.push_back(message); };
  pushClipboard("\xF0\x9F\x98\x80 \"q\"", "", sender);
  pushClipboard("bad \xFF text", "", sender);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "{\"text\":\"\xF0\x9F\x98\x80 \\\"q\\\"\",\"type\":\"clipdata\"}");
  EXPECT_EQ(sent[1], "{\"text\":\"bad \xEF\xBF\xBD text\",\"type\":\"clipdata\"}");
}

TEST(PushClipboard, ChunksFromAViewerReassembleIntoTheSameBytes) {
  std::string png;
  for (int i = 0; i < 40000; ++i) png += static_cast<char>(i * 7919 % 251);
  ClipboardState state(false);
  std::optional<std::string> received;
  pushClipboard("", png, [&](const std::string& message) {
    auto chunk = nlohmann::json::parse(message);
    received = collectImageChunk(state, chunk["seq"], chunk["total"], chunk["data"].get<std::string>());
  });
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, png);
}
