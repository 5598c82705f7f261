// remote-agent: serves the viewer page and runs one remote-helper for the
// viewer who presents the secret.
#include "agent/agent_options.h"
#include "agent/agent_server.h"
#include "agent/secret.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace dravnok::agent;

namespace {

void logLine(const std::string& message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::fprintf(stderr, "%s agent: %s\n", stamp, message.c_str());
}

std::string defaultHelperPath() {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./x");
  folder.erase(folder.rfind('/'));
  for (std::string candidate : {folder + "/remote-helper", folder + "/../host/remote-helper"}) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return folder + "/remote-helper";
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Read once and taken out of the environment: the helper has no use for it.
  std::optional<std::string> environmentSecret;
  if (const char* value = std::getenv("DRAVNOK_AGENT_SECRET")) environmentSecret = value;
  unsetenv("DRAVNOK_AGENT_SECRET");
  ParsedOptions parsed = parseAgentOptions(args, environmentSecret);
  if (!parsed.options) {
    if (parsed.error == "help") {
      std::fputs(kAgentUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "remote-agent: %s\n%s", parsed.error.c_str(), kAgentUsage);
    return 2;
  }
  AgentOptions options = *parsed.options;
  if (options.secret.empty()) options.secret = randomHex(16);
  std::string helperPath = options.helperPath.empty() ? defaultHelperPath() : options.helperPath;

  // Signals are taken by one thread, so that shutdown runs in order.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::optional<AgentServer> server;
  try {
    server.emplace(options, helperPath, logLine);
  } catch (const std::exception& e) {
    logLine(e.what());
    return 1;
  }
  if (!server->bind()) {
    logLine("cannot listen on " + options.host + ":" + std::to_string(options.port));
    return 1;
  }
  std::string host = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  if (server->tlsFingerprint().empty()) {
    std::printf("Open http://%s:%d/#secret=%s\n", host.c_str(), server->port(), options.secret.c_str());
  } else {
    std::printf("Open https://%s:%d/#secret=%s (certificate SHA-256 %s)\n", host.c_str(), server->port(),
                options.secret.c_str(), server->tlsFingerprint().c_str());
  }
  std::fflush(stdout);
  if (options.secretOnCommandLine)
    logLine("--secret shows in the process list to every user of this machine; --secret-file or "
            "DRAVNOK_AGENT_SECRET keep it private");
  if (options.insecureHttp && !isLoopbackAddress(options.host))
    logLine("plain HTTP off loopback (--insecure-http): the secret and the signalling cross the network readable "
            "and alterable by anyone on the path");
  logLine("serving the viewer on " + host + ":" + std::to_string(server->port()) + ", helper " + helperPath +
          ", mode " + options.mode);

  std::thread signalWaiter([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
  });
  server->serve();
  // serve() also returns when listening failed: wake the waiter either way.
  kill(getpid(), SIGTERM);
  signalWaiter.join();
  logLine("stopped");
  return 0;
}
