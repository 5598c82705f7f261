#pragma once
// One remote-helper child: its standard input takes command lines, its
// standard output gives event lines to a reader thread that this object
// owns.
#include "agent/child_process.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dravnok::agent {

class HelperProcess {
public:
  using LineHandler = std::function<void(const std::string& line)>;
  // Called once, on the reader thread, with the exit code (128 + signal
  // when a signal ended it, or when it was killed).
  using ExitHandler = std::function<void(int code)>;

  // A line longer than this is dropped whole: the helper's lines are a few
  // kilobytes.
  static constexpr size_t kMaxLineBytes = 4 << 20;

  // Starts `program` with `args`; throws std::runtime_error when it cannot.
  HelperProcess(const std::string& program, const std::vector<std::string>& args, LineHandler onLine,
                ExitHandler onExit);
  // Closes standard input (the helper's own way to end a session), waits a
  // few seconds, then kills; joins the reader.
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // Writes one line (a line feed is added); false once the helper is gone.
  bool writeLine(std::string_view line);
  void closeInput();
  // Ends a helper that outlived its end of input; nothing once it exited.
  void kill();
  uint32_t pid() const { return child_.id(); }
  bool exited() const;

private:
  void readLoop();

  ChildProcess child_;
  LineHandler onLine_;
  ExitHandler onExit_;
  mutable std::mutex mutex_;
  std::condition_variable exitedCv_;
  bool exited_ = false;
  bool inputClosed_ = false;
  std::thread reader_;
};

} // namespace dravnok::agent
