#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runCongestionSelfTest() { return notAvailableYet("--selftest-cc"); }

} // namespace dravnok::diagnostics
