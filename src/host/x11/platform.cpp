#include "host/platform.h"

#include <climits>
#include <csignal>
#include <unistd.h>

namespace dravnok::host {

RuntimeStart startPlatformRuntime() { return RuntimeStart::Ok; }
void stopPlatformRuntime() {}
void prepareStandardStreams() {
  // An agent that dies leaves our standard output without a reader; the
  // next event line must fail quietly, not kill the process before it has
  // closed the session.
  std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string executablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::FILE* openSharedForAppend(const std::string& path) { return std::fopen(path.c_str(), "ab"); }

uint32_t findParentPid() { return static_cast<uint32_t>(getppid()); }

} // namespace dravnok::host
