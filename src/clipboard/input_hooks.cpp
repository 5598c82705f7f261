#include "clipboard/input_hooks.h"

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"

namespace dravnok::clipboard {

ClipboardHooks makeClipboardHooks(ClipboardState& state) {
  ClipboardHooks hooks;
  hooks.writeText = [&state](InputInjector&, const std::string& text) { writeClipboardText(state, text); };
  hooks.acceptImageChunk = [&state](InputInjector&, int32_t seq, int32_t total, const std::string& data) {
    acceptImageChunk(state, seq, total, data);
  };
  hooks.sendClipboard = [](const ReplyFn& reply) {
    std::string png = readClipboardImagePng();
    std::string text = readClipboardText();
    pushClipboard(text, png, reply);
  };
  return hooks;
}

} // namespace dravnok::clipboard
