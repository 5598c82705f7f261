#pragma once
// Stand-ins for the files tests: a data channel that records what is sent, a
// temporary folder, and a file system whose user folders and faults the test
// sets.
#include "files/file_system.h"
#include "files/paths.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <thread>
#include <variant>
#include <vector>

namespace dravnok::files::testing {

using nlohmann::json;
using Bytes = std::vector<std::byte>;

// Shaped like the peer connection library's data channel: send is false when
// the message was queued, and throws on failure. The download thread sends
// while the test reads.
class FakeChannel {
public:
  struct Sent {
    std::vector<json> texts;
    Bytes bytes;
    int binaries = 0;
  };
  bool send(std::variant<Bytes, std::string> data) {
    std::lock_guard lock(mutex_);
    if (auto* text = std::get_if<std::string>(&data)) {
      sent_.texts.push_back(json::parse(*text));
      if (onText) onText(sent_.texts.back());
    } else if (failBinaries) {
      throw std::runtime_error("send failed");
    } else {
      sent_.bytes.insert(sent_.bytes.end(), std::get<Bytes>(data).begin(), std::get<Bytes>(data).end());
      ++sent_.binaries;
    }
    return buffered == 0;
  }
  bool send(const std::byte* data, size_t size) { return send(Bytes(data, data + size)); }
  size_t bufferedAmount() const { return buffered; }
  bool isOpen() const { return open; }
  size_t maxMessageSize() const { return maxMessage; }
  void onOpen(std::function<void()> handler) { opened = std::move(handler); }
  void onClosed(std::function<void()> handler) { closed = std::move(handler); }
  void onMessage(std::function<void(Bytes)> binary, std::function<void(std::string)> text) {
    binaryMessage = std::move(binary);
    textMessage = std::move(text);
  }

  Sent sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::vector<json> texts() { return sent().texts; }
  json last() { return texts().empty() ? json() : texts().back(); }
  void clear() {
    std::lock_guard lock(mutex_);
    sent_ = {};
  }
  // Polls until a message of type t has been sent; null after 20 s.
  json waitFor(const std::string& t) {
    for (int i = 0; i < 4000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5)))
      for (const json& text : texts())
        if (text["t"] == t) return text;
    return {};
  }

  std::atomic<size_t> buffered{0}, maxMessage{SIZE_MAX};
  std::atomic<bool> open{false}, failBinaries{false};
  std::function<void(const json&)> onText; // set before the transfer starts
  std::function<void()> opened, closed;
  std::function<void(Bytes)> binaryMessage;
  std::function<void(std::string)> textMessage;

private:
  std::mutex mutex_;
  Sent sent_;
};

class TempFolder {
public:
  TempFolder()
      : path_(std::filesystem::temp_directory_path() / ("dravnok-files-" + std::to_string(std::random_device()()))) {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  // The wire form of a path in the folder.
  std::string wire(const std::string& name = {}) const {
    return name.empty() ? toUtf8(path_) : toUtf8(path_ / toFsPath(name));
  }

private:
  std::filesystem::path path_;
};

inline Bytes randomBytes(size_t size) {
  std::mt19937 random(size);
  Bytes bytes(size);
  for (std::byte& b : bytes) b = static_cast<std::byte>(random());
  return bytes;
}

inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The native file system with the user's folders in a test folder, and reads
// or writes that fail once a byte budget is used up (a read error, a full disk).
class TestFileSystem final : public FileSystem {
public:
  explicit TestFileSystem(std::string home) : home_(std::move(home)) {}

  PathStyle style() const override { return native_->style(); }
  std::vector<std::string> driveRoots() override { return native_->driveRoots(); }
  std::string homeFolder() override { return home_; }
  std::string downloadsFolder() override { return home_.empty() ? "" : joinPath(home_, "Downloads", style()); }
  PathKind kindOf(const std::string& path) override { return native_->kindOf(path); }
  int64_t modifiedMs(const std::string& path) override { return native_->modifiedMs(path); }
  std::unique_ptr<FileReader> openForReading(const std::string& path) override {
    auto reader = native_->openForReading(path);
    return reader && readBudget >= 0 ? std::make_unique<Failing>(std::move(reader), readBudget, &openReaders)
                                     : std::move(reader);
  }
  std::unique_ptr<FileWriter> openForWriting(const std::string& path) override {
    auto writer = native_->openForWriting(path);
    return writer && writeBudget >= 0 ? std::make_unique<Failing>(std::move(writer), writeBudget) : std::move(writer);
  }

  int64_t readBudget = -1;
  int64_t writeBudget = -1;
  std::atomic<int> openReaders{0}; // of those opened with a read budget

private:
  struct Failing final : FileReader, FileWriter {
    Failing(std::unique_ptr<FileReader> r, int64_t budget, std::atomic<int>* open)
        : reader(std::move(r)), budget(budget), open(open) {
      ++*open;
    }
    ~Failing() override {
      if (open) --*open;
    }
    Failing(std::unique_ptr<FileWriter> w, int64_t budget) : writer(std::move(w)), budget(budget) {}
    std::optional<size_t> read(std::span<std::byte> buffer) override {
      auto n = budget > 0 ? reader->read(buffer.first(std::min<size_t>(buffer.size(), budget))) : std::nullopt;
      budget -= n.value_or(0);
      return n;
    }
    bool write(std::span<const std::byte> data) override {
      budget -= data.size();
      return budget >= 0 && writer->write(data);
    }
    bool close() override { return writer->close(); }
    std::unique_ptr<FileReader> reader;
    std::unique_ptr<FileWriter> writer;
    int64_t budget;
    std::atomic<int>* open = nullptr;
  };

  std::shared_ptr<FileSystem> native_ = makeNativeFileSystem();
  std::string home_;
};

} // namespace dravnok::files::testing
