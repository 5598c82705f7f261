// fuzz-deps: dravnok::input
// fuzz-max-len: 1100000
// Whatever the viewer sends on the input channel, the dispatcher drops it or
// turns it into records that stay on the desktop, and a monitor selection
// never names a negative monitor.
#include "desktop_backend.h"
#include "input/input_channel_handler.h"
#include "input/input_messages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using namespace dravnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (std::optional<int32_t> index = parseMonitorSelection(text); index && *index < 0) std::abort();

  InputInjector injector(std::make_unique<fuzzing::DesktopBackend>(VirtualDesktop{-1280, 0, 3200, 1080}), false, 1920,
                         1080, 0, 0, 300);
  ClipboardHooks hooks;
  hooks.writeText = [](InputInjector&, const std::string&) {};
  hooks.acceptImageChunk = [](InputInjector&, int32_t, int32_t, const std::string&) {};
  hooks.sendClipboard = [](const ReplyFn& reply) { reply("{\"type\":\"clipboard\"}"); };
  injector.setClipboardHooks(std::move(hooks));
  dispatchInputMessage(injector, text, [](const std::string&) {});
  messageType(text);
  return 0;
}
