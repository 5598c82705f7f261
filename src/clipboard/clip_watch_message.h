#pragma once
#include <string_view>

namespace dravnok::clipboard {

// Reads the viewer's watcher switch from the raw text of an input message,
// without parsing JSON: -1 when the text is not a switch, 0 for off, 1 for
// on. Any text that holds the quoted word clipwatch counts as a switch.
int parseClipWatch(std::string_view text);

} // namespace dravnok::clipboard
