#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"
#include "diagnostics/binary_file.h"
#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

// A PNG goes onto the clipboard the way the viewer sends one, and comes
// back the way the watcher reads it.
int runClipboardEcho(const std::string& inPngPath, const std::string& outPngPath) {
  auto input = readBinaryFile(inPngPath);
  if (!input) {
    std::fprintf(stderr, "clip-echo: cannot open %s\n", inPngPath.c_str());
    return 2;
  }
  clipboard::ClipboardState state(false);
  clipboard::acceptImageChunk(state, 0, 1, clipboard::base64Encode(*input));
  std::string png = clipboard::readClipboardImagePng();
  if (png.empty()) {
    std::fputs("clip-echo: read-back FAILED\n", stderr);
    return 10;
  }
  writeBinaryFile(outPngPath, png);
  std::fprintf(stderr, "clip-echo: OK \xE2\x80\x94 set %zu-byte PNG, read back %zu-byte PNG\n", input->size(),
               png.size());
  return 0;
}

} // namespace dravnok::diagnostics
