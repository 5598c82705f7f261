#include "clipboard/clipboard.h"
#include "diagnostics/binary_file.h"
#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runClipboardReadTest(const std::string& pngPath) {
  std::string text = clipboard::readClipboardText();
  std::string shown = text.empty() ? "(none)" : text.size() > 40 ? text.substr(0, 40) + "\xE2\x80\xA6" : text;
  std::fprintf(stderr, "clip-readtest: text on clipboard: %s\n", shown.c_str());
  std::string png = clipboard::readClipboardImagePng();
  if (png.empty()) {
    std::fputs("clip-readtest: no image on the clipboard (or unsupported format)\n", stderr);
    return 10;
  }
  if (!writeBinaryFile(pngPath, png)) {
    std::fprintf(stderr, "clip-readtest: cannot write %s\n", pngPath.c_str());
    return 2;
  }
  std::fprintf(stderr, "clip-readtest: OK \xE2\x80\x94 wrote %zu-byte PNG to %s\n", png.size(), pngPath.c_str());
  return 0;
}

} // namespace dravnok::diagnostics
