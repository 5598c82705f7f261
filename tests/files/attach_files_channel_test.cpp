#include "files/attach_files_channel.h"
#include "files/files_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <variant>

using namespace dravnok::files;
using namespace dravnok::files::testing;

namespace {

// Shaped like the peer connection library's data channel: send is false
// when the message was queued, and throws on failure.
struct RtcLikeChannel {
  bool send(std::variant<Bytes, std::string> data) {
    if (failSends) throw std::runtime_error("send failed");
    if (auto* text = std::get_if<std::string>(&data)) texts.push_back(json::parse(*text));
    return buffered == 0;
  }
  bool send(const std::byte*, size_t) { return send(Bytes{}); }
  size_t bufferedAmount() const { return buffered; }
  bool isOpen() const { return open; }
  size_t maxMessageSize() const { return 262144; }
  void onOpen(std::function<void()> handler) { opened = std::move(handler); }
  void onClosed(std::function<void()> handler) { closed = std::move(handler); }
  void onMessage(std::function<void(Bytes)> binary, std::function<void(std::string)> text) {
    binaryMessage = std::move(binary);
    textMessage = std::move(text);
  }
  void deliver(const json& message) { textMessage(message.dump()); }

  std::vector<json> texts;
  std::atomic<size_t> buffered{0};
  bool open = false, failSends = false;
  std::function<void()> opened, closed;
  std::function<void(Bytes)> binaryMessage;
  std::function<void(std::string)> textMessage;
};

TEST(AttachFilesChannel, GreetsOnOpenOnceAndANewChannelOrACloseEndsTheOldTransfers) {
  TempFolder temp;
  std::vector<std::string> logs;
  FileTransferSlot slot;
  const auto attach = [&](bool open) {
    auto channel = std::make_shared<RtcLikeChannel>();
    channel->open = open;
    attachFilesChannel(
        slot, channel, [&](const std::string& level, const std::string& text) { logs.push_back(level + ": " + text); },
        std::make_shared<TestFileSystem>(temp.wire("home")));
    return channel;
  };
  writeFile(temp.path() / "big.bin", randomBytes(kDownloadChunk));
  auto later = attach(false);
  EXPECT_TRUE(later->texts.empty());
  later->opened();
  EXPECT_EQ(later->texts.size(), 1u);
  later->buffered = kDownloadBufferLimit + 1;
  later->deliver({{"t", "get"}, {"path", temp.wire("big.bin")}});
  later->closed();
  EXPECT_FALSE(slot.current()->downloadRunning());

  auto first = attach(true);
  first->opened(); // reported after the handlers were registered
  ASSERT_EQ(first->texts.size(), 1u);
  EXPECT_EQ(first->texts[0]["t"], "hello");
  first->buffered = kDownloadBufferLimit + 1;
  first->deliver({{"t", "get"}, {"path", temp.wire("big.bin")}});
  first->deliver({{"t", "put"}, {"name", "up.bin"}, {"dir", temp.wire()}});
  first->binaryMessage(randomBytes(7));
  std::weak_ptr<FileTransfer> old = slot.current();
  attach(false);
  EXPECT_TRUE(old.expired());
  first->buffered = 0;
  first->deliver({{"t", "put-done"}}); // reaches nothing now
  EXPECT_EQ(first->texts.back()["t"], "put-ready");
  EXPECT_EQ(std::filesystem::file_size(temp.path() / "up.bin"), 7u);
  EXPECT_EQ(logs, (std::vector<std::string>{"info: files channel open", "info: files channel closed",
                                            "info: files channel open"}));
}

// A queued message is taken; a failing or gone channel loses binary data,
// which the download must hear of, and text sends stay silent.
TEST(AttachFilesChannel, AGoneOrFailingChannelSwallowsSendsAndReportsLostBinaries) {
  auto channel = std::make_shared<RtcLikeChannel>();
  WeakChannel<RtcLikeChannel> adapter(channel);
  channel->buffered = 5;
  EXPECT_TRUE(adapter.sendBinary(asBytes("x")));
  EXPECT_EQ(adapter.bufferedAmount(), 5u);
  for (bool gone : {false, true}) {
    channel->failSends = true;
    if (gone) channel.reset();
    EXPECT_NO_THROW(adapter.sendText("{}"));
    EXPECT_FALSE(adapter.sendBinary(asBytes("x")));
  }
  EXPECT_EQ(adapter.bufferedAmount(), 0u);
}

} // namespace
