// remote-agent: serves the viewer page and runs one remote-helper for the
// viewer who presents the secret, or (--server) connects out to a support
// server and runs one for the supporter who opens the printed link.
#include "agent/agent_options.h"
#include "agent/agent_platform.h"
#include "agent/agent_server.h"
#include "agent/secret.h"
#include "agent/server_mode.h"
#include "common/clock.h"
#include "common/version.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

using namespace dravnok::agent;

namespace {

void logLine(const std::string& message) {
  dravnok::TimeOfDay now = dravnok::localTimeOfDay();
  std::fprintf(stderr, "%02d:%02d:%02d agent: %s\n", now.hour, now.minute, now.second, message.c_str());
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Read once and taken out of the environment: the helper has no use for it.
  std::optional<std::string> environmentSecret;
  if (const char* value = std::getenv("DRAVNOK_AGENT_SECRET")) environmentSecret = value;
  forgetEnvironmentVariable("DRAVNOK_AGENT_SECRET");
  ParsedOptions parsed = parseAgentOptions(args, environmentSecret);
  if (!parsed.options) {
    if (parsed.error == "help") {
      std::fputs(kAgentUsage, stdout);
      return 0;
    }
    if (parsed.error == "version") {
      std::printf("remote-agent %s\n", dravnok::versionText().c_str());
      return 0;
    }
    std::fprintf(stderr, "remote-agent: %s\n%s", parsed.error.c_str(), kAgentUsage);
    return 2;
  }
  AgentOptions options = *parsed.options;
  std::string helperPath = options.helperPath.empty() ? programFolder() + "/" + helperFileName() : options.helperPath;
  if (!options.serverUrl.empty()) {
    ServerMode serverMode(options, helperPath, logLine);
    // Before run() starts its threads, as below.
    StopRequests stopRequests([&] { serverMode.stop(); });
    return serverMode.run();
  }
  if (options.secret.empty()) options.secret = randomHex(16);

  std::optional<AgentServer> server;
  std::mutex runningMutex;
  AgentServer* running = nullptr;
  bool stopRequested = false;
  // Before any thread starts, so that all of them leave the stop requests
  // to its own.
  StopRequests stopRequests([&] {
    std::lock_guard lock(runningMutex);
    stopRequested = true;
    if (running) running->stop();
  });
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
  {
    std::lock_guard lock(runningMutex);
    if (stopRequested) return 0;
    running = &*server;
  }
  server->serve();
  {
    std::lock_guard lock(runningMutex);
    running = nullptr;
  }
  logLine("stopped");
  return 0;
}
