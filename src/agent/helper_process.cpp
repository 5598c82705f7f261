#include "agent/helper_process.h"

#include <utility>

namespace dravnok::agent {

HelperProcess::HelperProcess(const std::string& program, const std::vector<std::string>& args, LineHandler onLine,
                             ExitHandler onExit)
    : child_(program, args), onLine_(std::move(onLine)), onExit_(std::move(onExit)) {
  reader_ = std::thread([this] { readLoop(); });
}

HelperProcess::~HelperProcess() {
  closeInput();
  {
    std::unique_lock lock(mutex_);
    if (!exitedCv_.wait_for(lock, std::chrono::seconds(5), [this] { return exited_; })) child_.kill();
  }
  reader_.join();
}

bool HelperProcess::writeLine(std::string_view line) {
  std::string data(line);
  data += '\n';
  std::lock_guard lock(mutex_);
  return !inputClosed_ && child_.write(data);
}

void HelperProcess::kill() {
  // Under the lock an unreaped helper keeps its id.
  std::lock_guard lock(mutex_);
  if (!exited_) child_.kill();
}

void HelperProcess::closeInput() {
  std::lock_guard lock(mutex_);
  if (!std::exchange(inputClosed_, true)) child_.closeInput();
}

bool HelperProcess::exited() const {
  std::lock_guard lock(mutex_);
  return exited_;
}

void HelperProcess::readLoop() {
  std::string pending;
  bool overlong = false; // inside a line that is being dropped
  std::vector<char> buffer(65536);
  while (size_t n = child_.read(buffer)) {
    std::string_view chunk(buffer.data(), n);
    for (size_t end; (end = chunk.find('\n')) != std::string_view::npos; chunk.remove_prefix(end + 1)) {
      if (!overlong) pending.append(chunk.substr(0, end));
      if (!overlong && !pending.empty()) onLine_(pending);
      pending.clear();
      overlong = false;
    }
    if (!overlong) pending.append(chunk);
    if (pending.size() > kMaxLineBytes) {
      pending.clear();
      overlong = true;
    }
  }
  // Wait for the exit without reaping, then reap under the lock: kill() never
  // signals an id that the system may already have given to another process.
  child_.waitUntilExited();
  int code = 0;
  {
    std::lock_guard lock(mutex_);
    code = child_.reap();
    exited_ = true;
  }
  exitedCv_.notify_all();
  onExit_(code);
}

} // namespace dravnok::agent
