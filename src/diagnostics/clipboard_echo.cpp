#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runClipboardEcho(const std::string&, const std::string&) { return notAvailableYet("--clip-echo"); }

} // namespace dravnok::diagnostics
