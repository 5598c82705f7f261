#pragma once
// A started program whose standard input and output are pipes to us; its
// standard error is ours. It inherits nothing else of ours. The platform
// code lives in x11/ (POSIX) and win32/.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

class ChildProcess {
public:
  // Throws std::runtime_error when the program cannot be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  // Closes our ends; neither waits for the program nor ends it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  uint32_t id() const;
  // All of `data`; false once the program no longer reads.
  bool write(std::string_view data);
  void closeInput();
  // Blocks for output; 0 once the program and everything it started closed it.
  size_t read(std::span<char> buffer);
  // Blocks until the program ended, keeping its id from being reused.
  void waitUntilExited();
  // The exit code (128 + the signal's number when a signal ended it); the id
  // may be reused afterwards. Call once, after waitUntilExited.
  int reap();
  // Ends the program at once; only before reap.
  void kill();

private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

} // namespace dravnok::agent
