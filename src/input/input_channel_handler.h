#pragma once
// Routes one text message of the "input" channel: a monitor selection, a
// clipboard watcher switch, an input event for the elevated relay, or the
// dispatcher. The session supplies the hooks for what lives outside this
// library.
#include "input/input_injector.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dravnok {

struct InputChannelHooks {
  std::function<void(int32_t index)> switchMonitor;
  // -1: not a watcher switch; 0: off; 1: on.
  std::function<int(std::string_view text)> parseClipWatch;
  std::function<void(bool on)> setClipWatch;
  // True when the relay is connected and took the event; empty: no relay.
  std::function<bool(const std::string& text)> forwardToRelay;
  std::function<void(const std::string& level, const std::string& message)> log;
  // Sends a notice when the channel exists and is open.
  std::function<void(const std::string& notice)> sendNotice;
  // Passed to the dispatcher for answers to the viewer.
  ReplyFn reply;
};

// How the handler looks at the window in front; the platform's by default.
struct ElevationProbe {
  std::function<bool(uint32_t& pid)> foregroundIsElevated;
  std::function<std::u16string(uint32_t pid)> processImageName;
};
ElevationProbe systemElevationProbe();

// The monitor index of a monitor selection message, read from the raw text:
// the quoted words monitor and index, and a number of 0 or more after the
// first ':' from the quoted index on.
std::optional<int32_t> parseMonitorSelection(std::string_view text);

// A process name in 8-bit text: ASCII kept, every other UTF-16 unit a '?'.
std::string asciiProcessName(std::u16string_view name);

class InputChannelHandler {
public:
  explicit InputChannelHandler(InputChannelHooks hooks, ElevationProbe probe = systemElevationProbe());

  // `injector` may be null (no injection then); `viewOnly` is the session's.
  void handleText(InputInjector* injector, bool viewOnly, const std::string& text);

  // The administrator window last warned about; 0 after a normal one.
  uint32_t lastElevatedPid() const { return lastElevatedPid_.load(); }

private:
  void warnIfElevated();

  InputChannelHooks hooks_;
  ElevationProbe probe_;
  std::atomic<uint32_t> lastElevatedPid_{0};
};

} // namespace dravnok
