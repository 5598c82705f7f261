// fuzz-deps: dravnok::input
// fuzz-max-len: 1100000
// Whatever the viewer sends on the input channel, the dispatcher drops it or
// turns it into records that stay on the desktop, and a monitor selection
// never names a negative monitor.
#include "input/input_channel_handler.h"
#include "input/input_messages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace dravnok;

class RecordingBackend : public InputBackend {
public:
  void send(std::span<const InputRecord> records) override {
    for (const InputRecord& record : records) {
      const auto* mouse = std::get_if<MouseInput>(&record);
      if (mouse == nullptr || (mouse->flags & mouseflag::absolute) == 0) continue;
      if (mouse->dx < 0 || mouse->dx > normalizedMax || mouse->dy < 0 || mouse->dy > normalizedMax) std::abort();
    }
  }
  VirtualDesktop virtualDesktop() override { return {-1280, 0, 3200, 1080}; }
  uint32_t currentProcessId() override { return 100; }
  uint32_t foregroundProcessId() override { return 200; }
  void pause(int milliseconds) override {
    if (milliseconds < 0) std::abort();
  }
  void secureAttention() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (std::optional<int32_t> index = parseMonitorSelection(text); index && *index < 0) std::abort();

  InputInjector injector(std::make_unique<RecordingBackend>(), false, 1920, 1080, 0, 0, 300);
  ClipboardHooks hooks;
  hooks.writeText = [](InputInjector&, const std::string&) {};
  hooks.acceptImageChunk = [](InputInjector&, int32_t, int32_t, const std::string&) {};
  hooks.sendClipboard = [](const ReplyFn& reply) { reply("{\"type\":\"clipboard\"}"); };
  injector.setClipboardHooks(std::move(hooks));
  dispatchInputMessage(injector, text, [](const std::string&) {});
  messageType(text);
  return 0;
}
