#include "clipboard/clip_watch_message.h"

namespace dravnok::clipboard {

int parseClipWatch(std::string_view text) {
  if (text.find("\"clipwatch\"") == std::string_view::npos) return -1;
  size_t on = text.find("\"on\"");
  if (on == std::string_view::npos) return 1;
  size_t colon = text.find(':', on);
  if (colon == std::string_view::npos) return 1;
  size_t i = colon + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (text.substr(i, 5) == "false") return 0;
  if (i >= text.size()) return 1;
  return text[i] == '0' ? 0 : 1;
}

} // namespace dravnok::clipboard
