#include "clipboard/clipboard_sync.h"

#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_limits.h"

#include <nlohmann/json.hpp>

namespace dravnok::clipboard {
namespace {

// Compact, raw UTF-8; text from another program may be ill-formed UTF-8,
// which must not throw on the watcher's thread.
std::string serialise(const nlohmann::json& message) {
  return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

std::optional<std::string> collectImageChunk(ClipboardState& state, int32_t seq, int32_t total, std::string_view data) {
  if (state.viewOnly) return std::nullopt;
  if (total < 1 || seq < 0 || seq >= total) {
    state.resetPendingImage();
    return std::nullopt;
  }
  if (seq == 0) {
    state.pendingImage.clear();
    state.pendingTotal = total;
    state.pendingCount = 0;
  }
  if (seq != state.pendingCount || total != state.pendingTotal) {
    state.resetPendingImage();
    return std::nullopt;
  }
  // Base64 of the largest image a viewer may send; more is not kept.
  constexpr size_t kMaxPendingChars = (kMaxClipboardBytes + 2) / 3 * 4;
  if (data.size() > kMaxPendingChars - state.pendingImage.size()) {
    state.resetPendingImage();
    return std::nullopt;
  }
  state.pendingImage.append(data);
  if (++state.pendingCount < state.pendingTotal) return std::nullopt;
  std::string png = base64Decode(state.pendingImage);
  state.resetPendingImage();
  return png;
}

void acceptImageChunk(ClipboardState& state, int32_t seq, int32_t total, std::string_view data) {
  if (auto png = collectImageChunk(state, seq, total, data)) writeClipboardPng(state, *png);
}

void pushClipboard(const std::string& text, const std::string& png, const ClipboardSender& sender) {
  if (!sender) return;
  if (!text.empty()) sender(serialise({{"type", "clipdata"}, {"text", text}}));
  if (png.empty()) return;
  std::string encoded = base64Encode(png);
  size_t chunks = (encoded.size() + kImageChunkChars - 1) / kImageChunkChars;
  for (size_t i = 0; i < chunks; ++i) {
    sender(serialise({{"type", "clipimgdata"},
                      {"seq", i},
                      {"total", chunks},
                      {"data", encoded.substr(i * kImageChunkChars, kImageChunkChars)}}));
  }
}

} // namespace dravnok::clipboard
