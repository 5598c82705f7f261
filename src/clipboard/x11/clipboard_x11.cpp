// The clipboard on X11 is the CLIPBOARD selection: text as UTF8_STRING,
// images as image/png.
#include "clipboard/clipboard.h"
#include "clipboard/png_codec.h"
#include "clipboard/x11/selection_owner.h"
#include "clipboard/x11/selection_reader.h"

#include "common/utf.h"

namespace dravnok::clipboard {
namespace {

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

bool placeOnClipboard(ClipboardState& state, ClipboardContent content) {
  if (state.viewOnly) return false;
  if (!state.selectionOwner) state.selectionOwner = SelectionOwner::create(state.ownClipboardSequence);
  return state.selectionOwner && state.selectionOwner->place(std::move(content));
}

} // namespace

std::string readClipboardText() {
  SelectionReader reader;
  std::string text;
  std::optional<std::string> utf8, latin1;
  if (reader.offers("UTF8_STRING") && (utf8 = reader.read("UTF8_STRING"))) {
    text = std::move(*utf8);
  } else if (reader.offers("STRING") && (latin1 = reader.read("STRING"))) {
    text = latin1ToUtf8(*latin1);
  }
  // Text ends at its first zero, as a terminated clipboard text does.
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

std::string readClipboardImagePng() {
  SelectionReader reader;
  std::optional<BgraImage> image;
  if (reader.offers("image/png")) {
    if (auto png = reader.read("image/png")) image = decodePng(*png);
  }
  if (!image && reader.offers("image/bmp")) {
    if (auto bmp = reader.read("image/bmp")) {
      image = bmpFileToBgra({reinterpret_cast<const uint8_t*>(bmp->data()), bmp->size()});
    }
  }
  if (!image) return {};
  return encodePng(image->width, image->height, image->pixels);
}

ClipboardImageHeader peekClipboardImage() {
  SelectionReader reader;
  ClipboardImageHeader header;
  // Only an image that arrives is present: with no owner at all, offers()
  // cannot tell, as it also says yes to owners that do not list targets.
  std::optional<std::string> png;
  if (reader.offers("image/png")) png = reader.read("image/png");
  header.present = png.has_value();
  if (!png) return header;
  if (auto image = decodePng(*png)) header.width = image->width, header.height = image->height;
  return header;
}

void writeClipboardText(ClipboardState& state, std::string_view text) {
  if (state.viewOnly) return;
  // Other clients expect well-formed UTF-8.
  placeOnClipboard(state, {ClipboardContent::Kind::Text, utf16ToUtf8(utf8ToUtf16(text))});
}

bool writeClipboardPng(ClipboardState& state, std::string_view png) {
  if (png.empty() || state.viewOnly) return false;
  // Decoded and encoded again, so that only a sound 32-bit image is offered.
  auto image = decodePng(png);
  if (!image) return false;
  std::string normalised = encodePng(image->width, image->height, image->pixels);
  if (normalised.empty()) return false;
  return placeOnClipboard(state, {ClipboardContent::Kind::Png, std::move(normalised)});
}

} // namespace dravnok::clipboard
