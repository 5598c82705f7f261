#include "agent/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace dravnok::agent {
namespace {

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

} // namespace

HelperProcess::HelperProcess(const std::string& program, const std::vector<std::string>& args, LineHandler onLine,
                             ExitHandler onExit)
    : onLine_(std::move(onLine)), onExit_(std::move(onExit)) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  if (pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // The helper gets no descriptor of ours beyond its three standard ones:
  // the HTTP library accepts sockets without close-on-exec.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStore) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  // A helper that dies must not take the agent with it through SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  reader_ = std::thread([this] { readLoop(); });
}

HelperProcess::~HelperProcess() {
  closeInput();
  {
    std::unique_lock lock(mutex_);
    if (!exitedCv_.wait_for(lock, std::chrono::seconds(5), [this] { return exited_; })) {
      ::kill(pid_, SIGKILL);
    }
  }
  reader_.join();
  closeFd(stdoutFd_);
}

bool HelperProcess::writeLine(std::string_view line) {
  std::lock_guard lock(mutex_);
  if (stdinFd_ < 0) return false;
  std::string data(line);
  data += '\n';
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(stdinFd_, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

void HelperProcess::kill() {
  // Under the lock an unreaped helper keeps its pid.
  std::lock_guard lock(mutex_);
  if (!exited_) ::kill(pid_, SIGKILL);
}

void HelperProcess::closeInput() {
  std::lock_guard lock(mutex_);
  closeFd(stdinFd_);
}

bool HelperProcess::exited() const {
  std::lock_guard lock(mutex_);
  return exited_;
}

void HelperProcess::readLoop() {
  std::string pending;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      if (end > start) onLine_(pending.substr(start, end - start));
    }
    pending.erase(0, start);
  }
  // Wait for the exit without reaping, then reap under the lock: kill() never
  // signals a pid that the system may already have given to another process.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  int status = 0;
  {
    std::lock_guard lock(mutex_);
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
  }
  exitedCv_.notify_all();
  onExit_(exitCodeOf(status));
}

} // namespace dravnok::agent
