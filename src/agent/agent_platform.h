#pragma once
// What remote-agent's entry needs of the system; x11/ (POSIX) and win32/.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dravnok::agent {

// The folder the running program lies in.
std::string programFolder();
// The helper's file name beside the agent.
std::string helperFileName();
// Takes a variable out of our environment, so that children never see it.
void forgetEnvironmentVariable(const char* name);
// Keeps a socket from being inherited by programs we start.
void keepFromChildren(std::intptr_t socket);
// Once constructed, a stop request (Ctrl+C, SIGTERM, closing the console)
// runs `onStop` once, on a thread this object owns, instead of ending the
// process; raise() does the same from inside.
class StopRequests {
public:
  explicit StopRequests(std::function<void()> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
  void raise();

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace dravnok::agent
