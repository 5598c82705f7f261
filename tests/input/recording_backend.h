#pragma once
// A backend that keeps what the injector asks for, in order.
#include "input/input_backend.h"
#include "input/input_injector.h"

#include <memory>
#include <vector>

namespace dravnok::testing_support {

struct Call {
  enum Kind { Send, Pause, SecureAttention } kind = Send;
  std::vector<InputRecord> records;
  int ms = 0;
};

struct Recorded {
  std::vector<Call> calls;
  VirtualDesktop desktop{0, 0, 1920, 1080};
  uint32_t foregroundPid = 0;

  // Every record sent, across calls.
  std::vector<InputRecord> records() const {
    std::vector<InputRecord> all;
    for (const Call& call : calls) all.insert(all.end(), call.records.begin(), call.records.end());
    return all;
  }
};

// The process itself is 4242.
class RecordingBackend final : public InputBackend {
public:
  explicit RecordingBackend(std::shared_ptr<Recorded> state) : state_(std::move(state)) {}
  void send(std::span<const InputRecord> records) override {
    state_->calls.push_back({Call::Send, {records.begin(), records.end()}, 0});
  }
  VirtualDesktop virtualDesktop() override { return state_->desktop; }
  uint32_t currentProcessId() override { return 4242; }
  uint32_t foregroundProcessId() override { return state_->foregroundPid; }
  void pause(int milliseconds) override { state_->calls.push_back({Call::Pause, {}, milliseconds}); }
  void secureAttention() override { state_->calls.push_back({Call::SecureAttention, {}, 0}); }

private:
  std::shared_ptr<Recorded> state_;
};

struct Rig {
  std::shared_ptr<Recorded> state = std::make_shared<Recorded>();
  InputInjector injector;

  explicit Rig(bool viewOnly = false, MonitorRect rect = {1920, 1080, 0, 0}, uint32_t agentPid = 0)
      : injector(std::make_unique<RecordingBackend>(state), viewOnly, rect.width, rect.height, rect.left, rect.top,
                 agentPid) {}
};

inline MouseInput moveTo(int32_t nx, int32_t ny) { return {nx, ny, 0, mouseflag::absoluteMove}; }
inline MouseInput mouseFlags(uint32_t flags) { return {0, 0, 0, flags}; }
inline KeyboardInput key(uint16_t vk, uint32_t flags = 0) { return {vk, 0, flags}; }

} // namespace dravnok::testing_support
