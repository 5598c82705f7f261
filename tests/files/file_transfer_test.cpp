#include "files/attach_files_channel.h"
#include "files/files_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace dravnok::files;
using namespace dravnok::files::testing;
namespace fs = std::filesystem;

namespace {

const std::string kShort = "the upload ended short \u2014 the file may be incomplete";

// The transfer object as the session attaches it, to a channel not yet open.
class FileTransferTest : public ::testing::Test {
protected:
  FileTransferTest() { attachFilesChannel(slot, channel, nullptr, files); }
  void request(const json& message) { channel->textMessage(message.dump()); }
  void upload(std::string_view data) {
    channel->binaryMessage(Bytes(reinterpret_cast<const std::byte*>(data.data()),
                                 reinterpret_cast<const std::byte*>(data.data() + data.size())));
  }
  std::string downloads() const { return joinPath(temp.wire("home"), "Downloads", files->style()); }
  void get(const std::string& name, const Bytes& content, uint64_t buffered = 0) {
    writeFile(temp.path() / name, content);
    channel->buffered = buffered;
    request({{"t", "get"}, {"path", temp.wire(name)}});
  }

  TempFolder temp;
  std::shared_ptr<FakeChannel> channel = std::make_shared<FakeChannel>();
  std::shared_ptr<TestFileSystem> files = std::make_shared<TestFileSystem>(temp.wire("home"));
  FileTransferSlot slot; // last: destroyed, and its download joined, first
};

// The greeting goes out once, whether the channel opened before or after it
// was attached, and a close ends the download under way.
TEST_F(FileTransferTest, GreetsOnceAndACloseEndsTheDownload) {
  channel->opened();
  channel->opened();
  const json hello = {
      {"t", "hello"}, {"home", temp.wire("home")}, {"downloads", downloads()}, {"sep", separatorOf(files->style())}};
  EXPECT_EQ(channel->texts(), std::vector<json>{hello});
  EXPECT_TRUE(fs::is_directory(toFsPath(downloads())));
  get("big.bin", randomBytes(kDownloadChunk), kDownloadBufferLimit + 1); // the viewer is not reading
  channel->closed();
  EXPECT_FALSE(slot.current()->downloadRunning());

  auto next = std::make_shared<FakeChannel>();
  next->open = true;
  attachFilesChannel(slot, next, nullptr, files);
  next->opened(); // reported after the handlers were registered
  EXPECT_EQ(next->texts(), std::vector<json>{hello});
}

TEST_F(FileTransferTest, ListingDescribesEntriesAndLeavesOutNamesThatAreNotUtf8) {
  fs::create_directories(temp.path() / "list" / "sub");
  writeFile(temp.path() / "list" / "data.bin", randomBytes(1234));
  request({{"t", "ls"}, {"path", temp.wire("list")}});
  json reply = channel->last();
  const auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::milliseconds(1);
  for (json& entry : reply["entries"]) {
    EXPECT_NEAR(entry["m"].get<double>(), now, 600000.0) << entry; // milliseconds since 1970
    entry.erase("m");
  }
  std::sort(reply["entries"].begin(), reply["entries"].end());
  EXPECT_EQ(reply, json({{"t", "ls-res"},
                         {"path", temp.wire("list")},
                         {"up", temp.wire()},
                         {"entries",
                          {{{"n", "data.bin"}, {"d", false}, {"s", 1234}}, {{"n", "sub"}, {"d", true}, {"s", 0}}}}}));

  // A name that is not UTF-8 could never be asked for: left out, and counted.
  // No such names on Windows; and 5000 files take half a minute under Wine.
  if (files->style() == PathStyle::Windows) return;
  std::ofstream(temp.path() / "list" / "bad\xFF");
  request({{"t", "ls"}, {"path", temp.wire("list")}});
  EXPECT_EQ(channel->last()["entries"].size(), 2u);
  EXPECT_EQ(channel->last()["omitted"], 1);
  for (int i = 0; i < 5000; ++i) std::ofstream(temp.path() / "list" / std::to_string(i));
  request({{"t", "ls"}, {"path", temp.wire("list")}});
  EXPECT_EQ(channel->last()["entries"].size(), 5000u);
}

// A reply over the peer's message size would never arrive: the listing is
// cut to what fits instead.
TEST_F(FileTransferTest, ListingFitsTheLargestMessageThePeerTakesAndDrivesAreRoots) {
  fs::create_directories(temp.path() / "many");
  for (int i = 0; i < 300; ++i) std::ofstream(temp.path() / "many" / ("entry-" + std::to_string(i)));
  for (size_t limit : {size_t(4096), size_t(4097), size_t(9000), SIZE_MAX}) {
    channel->maxMessage = limit;
    request({{"t", "ls"}, {"path", temp.wire("many")}});
    const json reply = channel->last();
    const size_t size = reply.dump().size(), count = reply["entries"].size();
    EXPECT_LE(size, limit);
    // Cut at the limit, not well before it: no entry here is 60 bytes long.
    EXPECT_TRUE(limit == SIZE_MAX ? count == 300 : count > 0 && size + 60 > limit) << limit;
  }
  request({{"t", "ls"}, {"path", ""}});
  const json reply = channel->last();
  EXPECT_EQ(reply["path"], "");
  EXPECT_EQ(reply["up"], "");
  ASSERT_FALSE(reply["entries"].empty());
  for (const json& entry : reply["entries"])
    EXPECT_EQ(entry, json({{"n", entry["n"]}, {"d", true}, {"s", 0}, {"m", 0}}));
}

// Each request or piece of upload data (a string) and everything it is
// answered with, one after another on one transfer object.
TEST_F(FileTransferTest, RequestsAndUploadDataGetTheirAnswers) {
  writeFile(temp.path() / "file.txt", randomBytes(10));
  writeFile(temp.path() / "real.txt", randomBytes(5));
  fs::create_directories(temp.path() / "folder");
  const auto error = [](const std::string& msg) { return json({{"t", "error"}, {"msg", msg}}); };
  const auto ready = [](const std::string& path) { return json({{"t", "put-ready"}, {"path", path}}); };
  const std::string target = joinPath(downloads(), "x.txt", files->style());
  std::vector<std::pair<json, json>> steps = {
      {{{"t", "ls"}, {"path", temp.wire("file.txt")}}, error("cannot open " + temp.wire("file.txt"))},
      {{{"t", "ls"}, {"path", temp.wire("missing")}}, error("cannot open " + temp.wire("missing"))},
      {{{"t", "get"}, {"path", temp.wire("folder")}}, error("not a file: " + temp.wire("folder"))},
      {{{"t", "put"}, {"name", "folder/"}}, error("no filename given")},
      {{{"t", "put"}, {"name", "folder"}, {"dir", temp.wire()}}, error("cannot write to " + temp.wire("folder"))},
      {{{"t", "put"}, {"name", std::string("a.txt\0.exe", 10)}, {"dir", temp.wire()}}, error("not a usable file name")},
      {{{"t", "put"}, {"name", "a\x01.txt"}, {"dir", temp.wire()}}, error("not a usable file name")},
      {{{"t", "ls"}, {"path", temp.wire("folder") + '\0'}}, error("cannot open " + temp.wire("folder") + '\0')},
      // Only the file name is kept, and a folder that is none falls back to Downloads.
      {{{"t", "put"}, {"name", "../..\\x.txt"}, {"dir", temp.wire("missing")}}, ready(target)},
      {"hello", nullptr},
      {{{"t", "put-done"}}, {{"t", "put-ok"}, {"path", target}, {"received", 5}, {"msg", ""}}},
      // A new put abandons the open upload silently; its partial file stays.
      {{{"t", "put"}, {"name", "first.bin"}, {"dir", temp.wire()}, {"size", 100}}, ready(temp.wire("first.bin"))},
      {"part", nullptr},
      {{{"t", "put"}, {"name", "second.bin"}, {"dir", temp.wire()}}, ready(temp.wire("second.bin"))},
      {"second", nullptr},
      {{{"t", "put-done"}}, {{"t", "put-ok"}, {"path", temp.wire("second.bin")}, {"received", 6}, {"msg", ""}}},
  };
  // Links are neither downloaded nor used as a destination, nor written through.
  std::error_code ec1, ec2;
  fs::create_symlink(temp.path() / "real.txt", temp.path() / "link.txt", ec1);
  fs::create_directory_symlink(temp.path() / "folder", temp.path() / "linkdir", ec2);
  if (!ec1 && !ec2) { // none under Wine
    steps.push_back({{{"t", "get"}, {"path", temp.wire("link.txt")}}, error("not a file: " + temp.wire("link.txt"))});
    steps.push_back({{{"t", "put"}, {"name", "x.txt"}, {"dir", temp.wire("linkdir")}}, ready(target)});
    steps.push_back({{{"t", "put"}, {"name", "link.txt"}, {"dir", temp.wire()}},
                     error("cannot write to " + temp.wire("link.txt"))});
  }
  for (const auto& [message, answer] : steps) {
    channel->clear();
    message.is_string() ? upload(message.get<std::string>()) : request(message);
    EXPECT_EQ(channel->texts(), answer.is_null() ? std::vector<json>{} : std::vector<json>{answer}) << message;
  }
  EXPECT_EQ(fs::file_size(temp.path() / "first.bin"), 4u);
  EXPECT_EQ(fs::file_size(temp.path() / "real.txt"), 5u);

  channel->clear();
  // Requests too deep or too long are dropped whole, however well formed.
  const std::string deep = R"({"t":"ls","path":"","n":)" + std::string(40, '[') + std::string(40, ']') + "}";
  const std::string overlong = R"({"t":"ls","path":"","n":")" + std::string(kMaxRequestBytes, ' ') + "\"}";
  for (const std::string& text : {std::string("not json"), std::string("[1]"), std::string(R"({"t":5})"),
                                  std::string(R"({"t":"nope"})"), std::string(R"({"t":"put-done"})"), deep, overlong}) {
    channel->textMessage(text);
  }
  upload("data without an upload");
  EXPECT_TRUE(channel->texts().empty());

  FileTransferSlot homeless;
  attachFilesChannel(homeless, channel, nullptr, std::make_shared<TestFileSystem>(""));
  request({{"t", "put"}, {"name", "x.txt"}});
  EXPECT_EQ(channel->last(), error("no writable destination folder"));
}

TEST_F(FileTransferTest, DownloadsArriveWholeInPiecesThePeerTakesAndCancelledOnesSendNoDone) {
  // The file is closed before the viewer hears it is whole (Windows would
  // refuse to move or delete it while it is open).
  files->readBudget = INT64_MAX;
  std::atomic<int> openAtDone = -1;
  channel->onText = [&](const json& text) {
    if (text["t"] == "get-done") openAtDone = files->openReaders.load();
  };
  channel->maxMessage = 40000;
  Bytes content = randomBytes(3 * kDownloadChunk + 100);
  get("big.bin", content, 1); // a queued piece is no lost one
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  EXPECT_EQ(openAtDone, 0);
  auto sent = channel->sent();
  EXPECT_EQ(sent.texts, (std::vector<json>{{{"t", "get-meta"}, {"name", "big.bin"}, {"size", content.size()}},
                                           {{"t", "get-done"}, {"name", "big.bin"}}}));
  EXPECT_EQ(sent.binaries, 5);
  EXPECT_TRUE(sent.bytes == content);

  channel->clear();
  channel->maxMessage = SIZE_MAX;
  get("big.bin", content);
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  EXPECT_EQ(channel->sent().binaries, 4);

  channel->clear();
  get("big.bin", content, kDownloadBufferLimit + 1); // the viewer is not reading
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  request({{"t", "cancel"}});
  EXPECT_FALSE(slot.current()->downloadRunning());
  EXPECT_EQ(channel->last()["t"], "get-meta");
  EXPECT_EQ(channel->sent().binaries, 0);
}

TEST_F(FileTransferTest, AFileThatShrinksEndsWithWhatIsLeftButAReadOrSendErrorIsAnError) {
  Bytes content = randomBytes(kDownloadChunk * 3);
  get("log.txt", content, kDownloadBufferLimit + 1); // held until the file has shrunk
  fs::resize_file(temp.path() / "log.txt", 1000);
  channel->buffered = 0;
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  EXPECT_TRUE(channel->sent().bytes == Bytes(content.begin(), content.begin() + 1000));

  channel->clear();
  files->readBudget = kDownloadChunk + 10;
  get("bad.bin", content);
  EXPECT_EQ(channel->waitFor("error")["msg"], "cannot read " + temp.wire("bad.bin"));
  EXPECT_EQ(channel->last()["t"], "error"); // and no "get-done"

  // So is a piece the channel did not take.
  channel->clear();
  files->readBudget = -1;
  channel->failBinaries = true;
  get("log.txt", content);
  EXPECT_EQ(channel->waitFor("error")["msg"], "cannot send " + temp.wire("log.txt"));
  EXPECT_EQ(channel->last()["t"], "error");
}

TEST_F(FileTransferTest, UploadMustMatchTheAnnouncedSizeAndFitOnTheDisk) {
  writeFile(temp.path() / "u.bin", randomBytes(100)); // replaced, not appended to
  for (auto [size, sent, ok] : {std::tuple{10, 9, false}, {10, 11, false}, {10, 10, true}, {0, 9, true}}) {
    request({{"t", "put"}, {"name", "u.bin"}, {"dir", temp.wire()}, {"size", size}});
    upload(std::string(sent, 'x').substr(0, 4));
    upload(std::string(sent, 'x').substr(4));
    request({{"t", "put-done"}});
    EXPECT_EQ(channel->last(), json({{"t", ok ? "put-ok" : "error"},
                                     {"path", temp.wire("u.bin")},
                                     {"received", sent},
                                     {"msg", ok ? "" : kShort}}));
    EXPECT_EQ(fs::file_size(temp.path() / "u.bin"), size_t(sent));
  }

  files->writeBudget = 3; // then the disk is full
  request({{"t", "put"}, {"name", "full.bin"}, {"dir", temp.wire()}, {"size", 6}});
  upload("abc");
  upload("def");
  request({{"t", "put-done"}});
  EXPECT_EQ(channel->last(), json({{"t", "error"}, {"path", temp.wire("full.bin")}, {"received", 6}, {"msg", kShort}}));
}

} // namespace
