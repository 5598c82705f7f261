#pragma once
// The clipboard messages of the input channel: images arriving from the
// viewer in base64 chunks, and the desktop clipboard going to the viewer.
#include "clipboard/clipboard_state.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dravnok::clipboard {

// Sends one text message on the input channel.
using ClipboardSender = std::function<void(const std::string&)>;

// Base64 characters per "clipimgdata" message.
inline constexpr size_t kImageChunkChars = 16000;

// Adds one "clipimg" chunk to the image being received. Returns the decoded
// PNG bytes when this chunk completed the image. A chunk out of order, of
// another image, or out of range discards the whole image, and so does one
// that makes the image longer than kMaxClipboardBytes; chunk 0 always
// starts a new one. Does nothing on a view-only state.
std::optional<std::string> collectImageChunk(ClipboardState& state, int32_t seq, int32_t total, std::string_view data);

// collectImageChunk, then writes a completed image to the clipboard.
void acceptImageChunk(ClipboardState& state, int32_t seq, int32_t total, std::string_view data);

// Sends the text as one "clipdata" message (when not empty), then the PNG as
// "clipimgdata" chunks in order (when not empty). Nothing without a sender.
void pushClipboard(const std::string& text, const std::string& png, const ClipboardSender& sender);

} // namespace dravnok::clipboard
