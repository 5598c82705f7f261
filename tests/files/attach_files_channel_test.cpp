#include "files/attach_files_channel.h"
#include "files/files_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <variant>

using namespace dravnok::files;
using namespace dravnok::files::testing;

namespace {

// Shaped like the peer connection library's data channel.
struct RtcLikeChannel {
  // Like the library's: false when the message was queued, throws on failure.
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

class AttachTest : public ::testing::Test {
protected:
  std::shared_ptr<RtcLikeChannel> attach(bool open = false) {
    auto channel = std::make_shared<RtcLikeChannel>();
    channel->open = open;
    attachFilesChannel(
        slot, channel,
        [this](const std::string& level, const std::string& text) { logs.push_back(level + ": " + text); },
        std::make_shared<TestFileSystem>(temp.wire("home")));
    return channel;
  }

  TempFolder temp;
  std::vector<std::string> logs;
  FileTransferSlot slot;
};

TEST_F(AttachTest, GreetsOnOpenOnceAndStopsTheDownloadOnClose) {
  auto later = attach();
  EXPECT_TRUE(later->texts.empty());
  later->opened();
  EXPECT_EQ(later->texts.size(), 1u);
  auto early = attach(true);
  early->opened(); // reported after the handlers were registered
  ASSERT_EQ(early->texts.size(), 1u);
  EXPECT_EQ(early->texts[0]["t"], "hello");

  writeFile(temp.path() / "big.bin", randomBytes(kDownloadChunk));
  early->buffered = kDownloadBufferLimit + 1;
  early->deliver({{"t", "get"}, {"path", temp.wire("big.bin")}});
  early->closed();
  EXPECT_FALSE(slot.current()->downloadRunning());
  EXPECT_EQ(early->texts.back()["t"], "get-meta");
  EXPECT_EQ(logs, (std::vector<std::string>{"info: files channel open", "info: files channel open",
                                            "info: files channel closed"}));
}

TEST_F(AttachTest, ANewChannelEndsTheOldOnesTransfers) {
  writeFile(temp.path() / "big.bin", randomBytes(kDownloadChunk));
  auto first = attach(true);
  first->buffered = kDownloadBufferLimit + 1;
  first->deliver({{"t", "get"}, {"path", temp.wire("big.bin")}});
  first->deliver({{"t", "put"}, {"name", "up.bin"}, {"dir", temp.wire()}});
  first->binaryMessage(randomBytes(7));
  std::weak_ptr<FileTransfer> old = slot.current();
  attach();
  EXPECT_TRUE(old.expired());
  first->buffered = 0;
  first->deliver({{"t", "put-done"}}); // reaches nothing now
  EXPECT_EQ(first->texts.back()["t"], "put-ready");
  EXPECT_EQ(std::filesystem::file_size(temp.path() / "up.bin"), 7u);
}

// A queued message is taken; a failing or gone channel loses binary data,
// which the download must hear of, and text sends stay silent.
TEST_F(AttachTest, AGoneOrFailingChannelSwallowsSendsAndReportsLostBinaries) {
  auto channel = std::make_shared<RtcLikeChannel>();
  WeakChannel<RtcLikeChannel> adapter(channel);
  channel->buffered = 5;
  EXPECT_TRUE(adapter.sendBinary(asBytes("x")));
  EXPECT_EQ(adapter.bufferedAmount(), 5u);
  channel->failSends = true;
  EXPECT_NO_THROW(adapter.sendText("{}"));
  EXPECT_FALSE(adapter.sendBinary(asBytes("x")));
  channel.reset();
  EXPECT_NO_THROW(adapter.sendText("{}"));
  EXPECT_FALSE(adapter.sendBinary(asBytes("x")));
  EXPECT_EQ(adapter.bufferedAmount(), 0u);
}

} // namespace
