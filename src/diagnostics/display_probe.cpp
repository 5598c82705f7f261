#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runDisplayProbe() { return notAvailableYet("--probe"); }

} // namespace dravnok::diagnostics
