#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runBenchmark(int) { return notAvailableYet("--bench"); }

} // namespace dravnok::diagnostics
