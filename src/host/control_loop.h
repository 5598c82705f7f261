#pragma once
// The normal mode's command loop: JSON command lines in, session calls out.
#include "session/session_control.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <mutex>
#include <string>

namespace dravnok::host {

// Process-wide state of the normal mode.
struct HostState {
  std::atomic<bool> quitRequested{false};
  std::mutex viewerNameMutex; // written by the loop, read by the state handler
  std::string viewerName;
  uint32_t parentPid = 0;

  void setViewerName(std::string name);
  std::string currentViewerName();
};

// A command line beyond this is refused unread; an offer takes a few KiB.
inline constexpr size_t kMaxCommandLineBytes = 1048576;

// Handles one command line (already known not to be empty).
void handleCommandLine(const std::string& line, SessionControl& session, HostState& state);

// Reads and handles lines until end of input, "stop", or the line after a
// "failed" or "closed" state.
void runControlLoop(std::istream& in, SessionControl& session, HostState& state);

} // namespace dravnok::host
