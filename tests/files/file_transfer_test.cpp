#include "files/file_transfer.h"
#include "files/files_test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace dravnok::files;
using namespace dravnok::files::testing;
namespace fs = std::filesystem;

namespace {

const std::string kShort = "the upload ended short \u2014 the file may be incomplete";

class FileTransferTest : public ::testing::Test {
protected:
  void request(const json& message) { transfer.onFilesMessage(std::string_view(message.dump())); }
  void upload(std::string_view data) { transfer.onFilesMessage(asBytes(data)); }
  std::string downloads() const { return joinPath(temp.wire("home"), "Downloads", files->style()); }
  void get(const std::string& name, const Bytes& content, uint64_t buffered = 0) {
    writeFile(temp.path() / name, content);
    channel->buffered = buffered;
    request({{"t", "get"}, {"path", temp.wire(name)}});
  }

  TempFolder temp;
  std::shared_ptr<FakeChannel> channel = std::make_shared<FakeChannel>();
  std::shared_ptr<TestFileSystem> files = std::make_shared<TestFileSystem>(temp.wire("home"));
  FileTransfer transfer{channel, files, nullptr}; // last: destroyed, and its download joined, first
};

TEST_F(FileTransferTest, HelloNamesTheUserFoldersAndCreatesDownloads) {
  transfer.onOpen();
  EXPECT_EQ(channel->last(), json({{"t", "hello"},
                                   {"home", temp.wire("home")},
                                   {"downloads", downloads()},
                                   {"sep", separatorOf(files->style())}}));
  EXPECT_TRUE(fs::is_directory(toFsPath(downloads())));
}

TEST_F(FileTransferTest, ListingDescribesEntriesAndStopsAt5000) {
  fs::create_directories(temp.path() / "list" / "sub");
  writeFile(temp.path() / "list" / "data.bin", randomBytes(1234));
  request({{"t", "ls"}, {"path", temp.wire("list")}});
  json reply = channel->last();
  EXPECT_EQ(reply["path"], temp.wire("list"));
  EXPECT_EQ(reply["up"], temp.wire());
  ASSERT_EQ(reply["entries"].size(), 2u) << reply;
  auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::milliseconds(1);
  for (const json& entry : reply["entries"]) {
    bool folder = entry["n"] == "sub";
    EXPECT_EQ(entry["d"], folder);
    EXPECT_EQ(entry["s"], folder ? 0 : 1234);
    EXPECT_NEAR(entry["m"].get<double>(), now, 600000.0) << entry; // milliseconds since 1970
  }

  // The limit is portable logic; making 5000 files under Wine takes half a minute.
  if (files->style() == PathStyle::Windows) return;
  // A name that is not UTF-8 could never be asked for: left out, and counted.
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

TEST_F(FileTransferTest, FailuresAnswerWithTheirErrorTexts) {
  writeFile(temp.path() / "file.txt", randomBytes(10));
  fs::create_directories(temp.path() / "folder");
  std::vector<std::pair<json, std::string>> cases = {
      {{{"t", "ls"}, {"path", temp.wire("file.txt")}}, "cannot open " + temp.wire("file.txt")},
      {{{"t", "ls"}, {"path", temp.wire("missing")}}, "cannot open " + temp.wire("missing")},
      {{{"t", "get"}, {"path", temp.wire("folder")}}, "not a file: " + temp.wire("folder")},
      {{{"t", "get"}, {"path", temp.wire("missing")}}, "not a file: " + temp.wire("missing")},
      {{{"t", "put"}, {"name", "folder/"}}, "no filename given"},
      {{{"t", "put"}, {"name", ".."}}, "no filename given"},
      {{{"t", "put"}, {"name", "folder"}, {"dir", temp.wire()}}, "cannot write to " + temp.wire("folder")},
      {{{"t", "put"}, {"name", std::string("a.txt\0.exe", 10)}, {"dir", temp.wire()}}, "not a usable file name"},
      {{{"t", "put"}, {"name", "a\x01.txt"}, {"dir", temp.wire()}}, "not a usable file name"},
      {{{"t", "ls"}, {"path", temp.wire("folder") + std::string(1, '\0')}},
       "cannot open " + temp.wire("folder") + std::string(1, '\0')},
  };
  for (const auto& [message, error] : cases) {
    channel->clear();
    request(message);
    EXPECT_EQ(channel->texts(), std::vector<json>{json({{"t", "error"}, {"msg", error}})}) << message;
  }
#ifndef _WIN32
  // A folder we may not read is an error, not an empty folder (root reads
  // everything, so the request is made as nobody).
  fs::create_directories(temp.path() / "locked");
  fs::permissions(temp.path() / "locked", fs::perms::none);
  const bool asRoot = ::geteuid() == 0;
  if (!asRoot || ::seteuid(65534) == 0) {
    request({{"t", "ls"}, {"path", temp.wire("locked")}});
    if (asRoot) EXPECT_EQ(::seteuid(0), 0);
    EXPECT_EQ(channel->last(), json({{"t", "error"}, {"msg", "cannot open " + temp.wire("locked")}}));
  }
#endif
  FileTransfer homeless(channel, std::make_shared<TestFileSystem>(""), nullptr);
  homeless.onFilesMessage(std::string_view(R"({"t":"put","name":"x.txt"})"));
  EXPECT_EQ(channel->last()["msg"], "no writable destination folder");

  channel->clear();
  // Requests too deep or too long are dropped whole, however well formed.
  const std::string deep = R"({"t":"ls","path":"","n":)" + std::string(40, '[') + std::string(40, ']') + "}";
  const std::string overlong = R"({"t":"ls","path":"","n":")" + std::string(kMaxRequestBytes, ' ') + "\"}";
  for (std::string_view text : {std::string_view("not json"), std::string_view("[1]"), std::string_view(R"({"t":5})"),
                                std::string_view(R"({"t":"nope"})"), std::string_view(R"({"t":"put-done"})"),
                                std::string_view(deep), std::string_view(overlong)}) {
    transfer.onFilesMessage(text);
  }
  upload("data without an upload");
  EXPECT_TRUE(channel->texts().empty());
}

TEST_F(FileTransferTest, DownloadsArriveWhole) {
  // The file is closed before the viewer hears it is whole (Windows would
  // refuse to move or delete it while it is open).
  files->readBudget = INT64_MAX;
  std::atomic<int> openAtDone = -1;
  channel->onText = [&](const json& text) {
    if (text["t"] == "get-done") openAtDone = files->openReaders.load();
  };
  Bytes content = randomBytes(3 * kDownloadChunk + 100);
  get("big.bin", content);
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  EXPECT_EQ(openAtDone, 0);
  EXPECT_EQ(channel->texts(), (std::vector<json>{{{"t", "get-meta"}, {"name", "big.bin"}, {"size", content.size()}},
                                                 {{"t", "get-done"}, {"name", "big.bin"}}}));
  EXPECT_EQ(channel->sent().binaries, 4);
  EXPECT_TRUE(channel->sent().bytes == content);

  channel->clear();
  get("empty", {});
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  EXPECT_EQ(channel->texts().front()["size"], 0);
  EXPECT_EQ(channel->sent().binaries, 4); // none more

  // A peer that takes smaller messages gets pieces it accepts.
  channel->clear();
  channel->maxMessage = 40000;
  get("big.bin", content);
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  const auto sent = channel->sent();
  EXPECT_EQ(sent.binaries, 4 + 5);
  EXPECT_TRUE(Bytes(sent.bytes.begin() + long(content.size()), sent.bytes.end()) == content);
}

TEST_F(FileTransferTest, CancelledDownloadSendsNoDone) {
  get("big.bin", randomBytes(kDownloadChunk), kDownloadBufferLimit + 1); // the viewer is not reading
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  request({{"t", "cancel"}});
  EXPECT_FALSE(transfer.downloadRunning());
  EXPECT_EQ(channel->last()["t"], "get-meta");
  EXPECT_EQ(channel->sent().binaries, 0);
}

TEST_F(FileTransferTest, FileThatShrinksEndsWithWhatIsLeftButAReadOrSendErrorIsAnError) {
  Bytes content = randomBytes(kDownloadChunk * 3);
  get("log.txt", content, kDownloadBufferLimit + 1);
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
  channel->refuseBinaries = true;
  get("log.txt", content);
  EXPECT_EQ(channel->waitFor("error")["msg"], "cannot send " + temp.wire("log.txt"));
  EXPECT_EQ(channel->last()["t"], "error");
}

TEST_F(FileTransferTest, LinksAreNeitherDownloadedNorUsedAsDestination) {
  writeFile(temp.path() / "real.txt", randomBytes(5));
  fs::create_directories(temp.path() / "realdir");
  std::error_code ec1, ec2;
  fs::create_symlink(temp.path() / "real.txt", temp.path() / "link.txt", ec1);
  fs::create_directory_symlink(temp.path() / "realdir", temp.path() / "linkdir", ec2);
  if (ec1 || ec2) GTEST_SKIP() << "no symbolic links here";
  request({{"t", "get"}, {"path", temp.wire("link.txt")}});
  EXPECT_EQ(channel->last()["msg"], "not a file: " + temp.wire("link.txt"));
  request({{"t", "put"}, {"name", "x.txt"}, {"dir", temp.wire("linkdir")}});
  EXPECT_EQ(channel->last()["path"], joinPath(downloads(), "x.txt", files->style()));
  // Nor written through: the file the link leads to stays as it was.
  request({{"t", "put"}, {"name", "link.txt"}, {"dir", temp.wire()}});
  EXPECT_EQ(channel->last()["msg"], "cannot write to " + temp.wire("link.txt"));
  EXPECT_EQ(fs::file_size(temp.path() / "real.txt"), 5u);
}

TEST_F(FileTransferTest, UploadKeepsOnlyTheFileNameAndMustMatchTheAnnouncedSize) {
  request({{"t", "put"}, {"name", "../..\\x.txt"}, {"dir", temp.wire("missing")}}); // falls back to Downloads
  const std::string target = joinPath(downloads(), "x.txt", files->style());
  EXPECT_EQ(channel->last(), json({{"t", "put-ready"}, {"path", target}}));
  upload("hello");
  request({{"t", "put-done"}});
  EXPECT_EQ(channel->last(), json({{"t", "put-ok"}, {"path", target}, {"received", 5}, {"msg", ""}}));
  EXPECT_EQ(fs::file_size(toFsPath(target)), 5u);

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
}

TEST_F(FileTransferTest, NewPutOrGetAbandonsTheOpenUploadSilently) {
  request({{"t", "put"}, {"name", "first.bin"}, {"dir", temp.wire()}, {"size", 100}});
  upload("part");
  request({{"t", "put"}, {"name", "second.bin"}, {"dir", temp.wire()}});
  EXPECT_EQ(channel->last(), json({{"t", "put-ready"}, {"path", temp.wire("second.bin")}}));
  EXPECT_EQ(fs::file_size(temp.path() / "first.bin"), 4u); // the partial file stays
  upload("second");
  request({{"t", "put-done"}});
  EXPECT_EQ(channel->last()["received"], 6);

  request({{"t", "put"}, {"name", "third.bin"}, {"dir", temp.wire()}});
  get("src.bin", randomBytes(10));
  ASSERT_FALSE(channel->waitFor("get-done").is_null());
  channel->clear();
  upload("late");
  request({{"t", "put-done"}});
  EXPECT_TRUE(channel->texts().empty());
}

TEST_F(FileTransferTest, WriteFailuresAndRemovedFilesEndInTheShortUploadError) {
  files->writeBudget = 3; // then the disk is full
  request({{"t", "put"}, {"name", "full.bin"}, {"dir", temp.wire()}, {"size", 6}});
  upload("abc");
  upload("def");
  request({{"t", "put-done"}});
  EXPECT_EQ(channel->last(), json({{"t", "error"}, {"path", temp.wire("full.bin")}, {"received", 6}, {"msg", kShort}}));

  files->writeBudget = -1;
  request({{"t", "put"}, {"name", "gone.bin"}, {"dir", temp.wire()}});
  upload("abc");
  std::error_code ec;
  if (!fs::remove(temp.path() / "gone.bin", ec)) GTEST_SKIP() << "an open file cannot be removed here";
  request({{"t", "put-done"}});
  EXPECT_EQ(channel->last()["t"], "error");
}

} // namespace
