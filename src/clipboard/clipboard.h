#pragma once
// The desktop clipboard as the viewer sees it: UTF-8 text and PNG images.
// Every operation is silent; an empty result or false means "nothing" or
// "failed". Implemented per platform.
#include "clipboard/clipboard_state.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dravnok::clipboard {

std::string readClipboardText();

// The clipboard's image as PNG bytes; empty without a usable image.
std::string readClipboardImagePng();

// Top-down BGRA rows of exactly width * 4 bytes; empty on failure.
std::string encodePng(int32_t width, int32_t height, std::span<const uint8_t> pixels);

// What the clipboard's image header states, for the write self-test: the
// size is 0 x 0 when the image is there but its header cannot be read.
struct ClipboardImageHeader {
  bool present = false;
  int32_t width = 0;
  int32_t height = 0;
};
ClipboardImageHeader peekClipboardImage();

// Both writes do nothing (and fail) when the state is view-only. The text
// write places an empty text for an empty string.
void writeClipboardText(ClipboardState& state, std::string_view text);
bool writeClipboardPng(ClipboardState& state, std::string_view png);

} // namespace dravnok::clipboard
