#pragma once
// The host's side of the elevated relay: starts dravnok-input-relay with
// administrator rights, serves it a pipe only the user and the system can
// open, and writes the viewer's input events to it while it is connected.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dravnok::relay {

// Stand-ins for system answers that a test machine may not give.
struct RelayClientSeams {
  // The process id of the pipe's client (`pipe` is the pipe's handle,
  // `relayPid` the started relay's id); false when it cannot be read.
  std::function<bool(void* pipe, uint32_t relayPid, uint32_t& clientPid)> pipeClientProcessId;
};

class RelayClient {
public:
  // Levels used: "info" and "warn".
  using LogFn = std::function<void(const std::string& level, const std::string& text)>;

  explicit RelayClient(LogFn log, RelayClientSeams seams = {});
  ~RelayClient();
  RelayClient(const RelayClient&) = delete;
  RelayClient& operator=(const RelayClient&) = delete;

  // Starts the launch thread once; later calls only store the geometry.
  // Throws when the thread cannot be created.
  void start(uint32_t agentPid, int32_t width, int32_t height, int32_t left, int32_t top);
  // Idempotent; never from a thread the client started. Closing the pipe
  // ends the relay.
  void stop();

  // True when the relay took the event; false means inject it locally.
  bool forward(const std::string& text);
  // The shared monitor moved; tells the relay when it is connected.
  void setDisplay(int32_t width, int32_t height, int32_t left, int32_t top);

  bool connected() const;

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
};

} // namespace dravnok::relay
