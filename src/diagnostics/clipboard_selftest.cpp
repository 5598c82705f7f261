#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"
#include "diagnostics/binary_file.h"
#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

// The viewer's write path: a PNG in two base64 chunks.
int runClipboardSelfTest(const std::string& pngPath) {
  auto input = readBinaryFile(pngPath);
  if (!input) {
    std::fprintf(stderr, "clip-selftest: cannot open %s\n", pngPath.c_str());
    return 2;
  }
  if (input->size() < 8 || (*input)[1] != 'P') {
    std::fprintf(stderr, "clip-selftest: %s does not look like a PNG\n", pngPath.c_str());
  }
  clipboard::ClipboardState state(false);
  const std::string text = clipboard::base64Encode(*input);
  const size_t half = text.size() / 2;
  clipboard::acceptImageChunk(state, 0, 2, std::string_view(text).substr(0, half));
  clipboard::acceptImageChunk(state, 1, 2, std::string_view(text).substr(half));
  const clipboard::ClipboardImageHeader header = clipboard::peekClipboardImage();
  if (!header.present) {
    std::fputs("clip-selftest: FAIL \xE2\x80\x94 no CF_DIB on the clipboard\n", stderr);
    return 10;
  }
  std::fprintf(stderr, "clip-selftest: OK \xE2\x80\x94 CF_DIB %dx%d on the clipboard\n", static_cast<int>(header.width),
               static_cast<int>(header.height));
  clipboard::writeClipboardText(state, "dravnok clip-selftest");
  return header.width > 0 && header.height > 0 ? 0 : 11;
}

} // namespace dravnok::diagnostics
