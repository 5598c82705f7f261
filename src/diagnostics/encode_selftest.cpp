#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runEncodeSelfTest() { return notAvailableYet("--selftest-encode"); }

} // namespace dravnok::diagnostics
