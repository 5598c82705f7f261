#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runClipboardReadTest(const std::string&) { return notAvailableYet("--clip-readtest"); }

} // namespace dravnok::diagnostics
