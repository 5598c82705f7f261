#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runElevatedInputSelfTest() { return notAvailableYet("--selftest-elevated-input"); }

} // namespace dravnok::diagnostics
