#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runClipboardSelfTest(const std::string&) { return notAvailableYet("--clip-selftest"); }

} // namespace dravnok::diagnostics
