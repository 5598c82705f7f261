#include "agent/child_process.h"

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

struct ChildProcess::Handles {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
};

namespace {

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::runtime_error systemError(const std::string& what, int code) {
  return std::runtime_error(what + ": " + std::strerror(code));
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : handles_(std::make_unique<Handles>()) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw systemError("pipe", errno);
  if (pipe2(out, O_CLOEXEC) != 0) {
    int code = errno;
    ::close(in[0]);
    ::close(in[1]);
    throw systemError("pipe", code);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // Nothing of ours beyond the three standard descriptors: the HTTP library
  // accepts sockets without close-on-exec.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStore) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int rc = posix_spawn(&handles_->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw systemError("cannot start " + program, rc);
  }
  handles_->input = in[1];
  handles_->output = out[0];
  // A program that dies must not take us with it through SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  closeFd(handles_->input);
  closeFd(handles_->output);
}

uint32_t ChildProcess::id() const { return static_cast<uint32_t>(handles_->pid); }

bool ChildProcess::write(std::string_view data) {
  while (!data.empty()) {
    if (handles_->input < 0) return false;
    ssize_t n = ::write(handles_->input, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void ChildProcess::closeInput() { closeFd(handles_->input); }

size_t ChildProcess::read(std::span<char> buffer) {
  for (;;) {
    ssize_t n = ::read(handles_->output, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
}

void ChildProcess::waitUntilExited() {
  // Without reaping: until reap() the pid cannot go to another process.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(handles_->pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
}

int ChildProcess::reap() {
  int status = 0;
  while (::waitpid(handles_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void ChildProcess::kill() { ::kill(handles_->pid, SIGKILL); }

} // namespace dravnok::agent
