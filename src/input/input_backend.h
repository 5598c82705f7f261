#pragma once
// The platform side of injection: a thin layer that delivers the injector's
// records and answers the few questions the injector asks of the desktop.
#include "input/input_records.h"

#include <cstdint>
#include <memory>
#include <span>

namespace dravnok {

// The rectangle that spans every monitor, in desktop pixels.
struct VirtualDesktop {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 1;
  int32_t height = 1;
};

class InputBackend {
public:
  virtual ~InputBackend() = default;
  // Delivers one batch together (one SendInput call on Windows).
  virtual void send(std::span<const InputRecord> records) = 0;
  virtual VirtualDesktop virtualDesktop() = 0;
  virtual uint32_t currentProcessId() = 0;
  // The process that owns the window in front; 0 when there is none.
  virtual uint32_t foregroundProcessId() = 0;
  virtual void pause(int milliseconds) = 0;
  // Ctrl+Alt+Del where the platform lets a program ask for it.
  virtual void secureAttention() = 0;
};

// The backend of the platform this program runs on.
std::unique_ptr<InputBackend> makeSystemInputBackend();

} // namespace dravnok
