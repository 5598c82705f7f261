#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runCaptureSelfTest(const std::string&) { return notAvailableYet("--selftest"); }

} // namespace dravnok::diagnostics
