#include "agent/agent_platform.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace dravnok::agent {

std::string programFolder() {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./x");
  return path.substr(0, path.rfind('/'));
}

std::string helperFileName() { return "remote-helper"; }

void forgetEnvironmentVariable(const char* name) { unsetenv(name); }

void keepFromChildren(std::intptr_t socket) { ::fcntl(static_cast<int>(socket), F_SETFD, FD_CLOEXEC); }

struct StopRequests::State {
  sigset_t signals{};
  std::thread waiter;
};

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  // Taken by one thread, so that shutdown runs in order; threads started
  // later inherit the mask.
  sigemptyset(&state_->signals);
  sigaddset(&state_->signals, SIGINT);
  sigaddset(&state_->signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->signals, nullptr);
  state_->waiter = std::thread([signals = state_->signals, onStop = std::move(onStop)] {
    int signal = 0;
    sigwait(&signals, &signal);
    onStop();
  });
}

StopRequests::~StopRequests() {
  raise();
  state_->waiter.join();
}

void StopRequests::raise() { kill(getpid(), SIGTERM); }

} // namespace dravnok::agent
