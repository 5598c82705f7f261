#include "host/library_log_bridge.h"

#include "host/diagnostic_log.h"

namespace dravnok::host {

const char* libraryLevelWord(int level) {
  // None, Fatal and Error are errors; Warning warns; the rest informs.
  if (level <= 2) return "error";
  if (level == 3) return "warn";
  return "info";
}

#if DRAVNOK_HAVE_WEBRTC
void libraryLogBridge(rtc::LogLevel level, std::string message) {
  logEvent(libraryLevelWord(static_cast<int>(level)), "rtc: " + message);
}

void installLibraryLogBridge() { rtc::InitLogger(rtc::LogLevel::Info, libraryLogBridge); }
#else
void installLibraryLogBridge() {}
#endif

} // namespace dravnok::host
