// An input backend for the fuzzers: it fails the run when a record would put
// the pointer off the desktop or pause for a negative time.
#pragma once

#include "input/input_backend.h"

#include <cstdlib>
#include <span>
#include <variant>

namespace dravnok::fuzzing {

class DesktopBackend : public InputBackend {
public:
  explicit DesktopBackend(VirtualDesktop desktop) : desktop(desktop) {}

  void send(std::span<const InputRecord> records) override {
    for (const InputRecord& record : records) {
      const auto* mouse = std::get_if<MouseInput>(&record);
      if (mouse == nullptr || (mouse->flags & mouseflag::absolute) == 0) continue;
      if (mouse->dx < 0 || mouse->dx > normalizedMax || mouse->dy < 0 || mouse->dy > normalizedMax) std::abort();
    }
  }
  VirtualDesktop virtualDesktop() override { return desktop; }
  uint32_t currentProcessId() override { return 100; }
  uint32_t foregroundProcessId() override { return 200; }
  void pause(int milliseconds) override {
    if (milliseconds < 0) std::abort();
  }
  void secureAttention() override {}

private:
  VirtualDesktop desktop;
};

} // namespace dravnok::fuzzing
