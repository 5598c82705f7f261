#pragma once
// Turns the viewer's input events into desktop input on the shared monitor.
// One per session in remote-helper, one in the elevated relay. Its
// clipboard messages go to the hooks that the clipboard code supplies (the
// write state lives beside it, in the clipboard library).
#include "input/input_backend.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace dravnok {

class InputInjector;

// Sends one text message back to the viewer.
using ReplyFn = std::function<void(const std::string& text)>;

// The clipboard side of the input channel, supplied by the clipboard code so
// that this library does not depend on it. An empty hook ignores its message.
struct ClipboardHooks {
  std::function<void(InputInjector& injector, const std::string& text)> writeText;
  std::function<void(InputInjector& injector, int32_t seq, int32_t total, const std::string& data)> acceptImageChunk;
  // Sends the current clipboard to the viewer through `reply`.
  std::function<void(const ReplyFn& reply)> sendClipboard;
};

struct MonitorRect {
  int32_t width = 1;
  int32_t height = 1;
  int32_t left = 0;
  int32_t top = 0;
};

class InputInjector {
public:
  // With the platform's own backend.
  InputInjector(bool viewOnly, int32_t width, int32_t height, int32_t left, int32_t top, uint32_t agentPid);
  InputInjector(std::unique_ptr<InputBackend> backend, bool viewOnly, int32_t width, int32_t height, int32_t left,
                int32_t top, uint32_t agentPid);
  InputInjector(const InputInjector&) = delete;
  InputInjector& operator=(const InputInjector&) = delete;

  // The shared monitor moved (monitor switch, or the relay's display line).
  void setDisplay(int32_t width, int32_t height, int32_t left, int32_t top);
  MonitorRect display() const;
  // In the relay: the helper's process, whose windows are protected too.
  void setHelperPid(uint32_t pid) { helperPid_ = pid; }

  bool viewOnly() const { return viewOnly_; }
  uint32_t ownPid() const { return ownPid_; }
  uint32_t agentPid() const { return agentPid_; }
  uint32_t helperPid() const { return helperPid_; }

  // True while a window of this program, the agent or the helper is in front:
  // pointer and keyboard input is then dropped.
  bool foregroundProtected();

  void movePointer(double x, double y);
  void mouseButton(double x, double y, int32_t button, bool down);
  void scroll(double x, double y, double dx, double dy);
  void tap(double x, double y);
  void swipe(double x, double y, double x2, double y2, int32_t ms);
  // Text of more than kMaxTypedUnits UTF-16 units is not typed at all: one
  // message must not turn into an endless stream of key records.
  static constexpr size_t kMaxTypedUnits = 4096;
  void typeText(std::string_view text);
  void pressKeyName(std::string_view key);
  void keyByCode(std::string_view code, bool down);
  void pasteShortcut();
  void sendSecureAttention();

  void setClipboardHooks(ClipboardHooks hooks) { clipboardHooks_ = std::move(hooks); }
  const ClipboardHooks& clipboardHooks() const { return clipboardHooks_; }

private:
  bool allowed();
  MouseInput absoluteMove(double x, double y);
  void moveAbsolute(double x, double y);
  void sendOne(const InputRecord& record);

  std::unique_ptr<InputBackend> backend_;
  const bool viewOnly_;
  // Written by the monitor switch while events may be injected on another
  // thread; an event may see a mix of old and new values, the next one not.
  std::atomic<int32_t> width_;
  std::atomic<int32_t> height_;
  std::atomic<int32_t> left_;
  std::atomic<int32_t> top_;
  const uint32_t ownPid_;
  const uint32_t agentPid_;
  uint32_t helperPid_ = 0;
  ClipboardHooks clipboardHooks_;
};

} // namespace dravnok
