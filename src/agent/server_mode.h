#pragma once
// remote-agent --server: the host connects out to a support server, whose
// broker carries the signalling between the page and this agent, and
// prints the link that a supporter opens. No socket listens.
#include "agent/agent_options.h"
#include "agent/server_config.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace dravnok::agent {

class ServerMode {
public:
  using Log = std::function<void(const std::string&)>;

  // Starts no thread: run() does.
  ServerMode(AgentOptions options, std::string helperPath, Log log);
  // Serves until stop(); the program's exit code.
  int run();
  void stop();

private:
  // The server's description, fetched again with back-off while the server
  // cannot be reached; nothing when it is unusable or a stop came.
  std::optional<ServerConfig> describe(const Endpoint& server);
  bool stopWithin(std::chrono::milliseconds wait);

  AgentOptions options_;
  std::string helperPath_;
  Log log_;
  std::mutex mutex_;
  std::condition_variable stopCv_;
  bool stopRequested_ = false;
};

} // namespace dravnok::agent
