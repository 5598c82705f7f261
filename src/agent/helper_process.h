#pragma once
// One remote-helper child: its standard input takes command lines, its
// standard output gives event lines to a reader thread that this object
// owns.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace dravnok::agent {

class HelperProcess {
public:
  using LineHandler = std::function<void(const std::string& line)>;
  // Called once, on the reader thread, with the exit code (128 + signal
  // when a signal ended it).
  using ExitHandler = std::function<void(int code)>;

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
  pid_t pid() const { return pid_; }
  bool exited() const;

private:
  void readLoop();

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  LineHandler onLine_;
  ExitHandler onExit_;
  mutable std::mutex mutex_;
  std::condition_variable exitedCv_;
  bool exited_ = false;
  std::thread reader_;
};

} // namespace dravnok::agent
