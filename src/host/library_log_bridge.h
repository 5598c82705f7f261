#pragma once
// Routes the peer connection library's own messages into the diagnostic log.
#include <string>

#if DRAVNOK_HAVE_WEBRTC
#include <rtc/global.hpp>
#endif

namespace dravnok::host {

// "error", "warn" or "info" for a library level (rtc::LogLevel's values).
const char* libraryLevelWord(int level);

#if DRAVNOK_HAVE_WEBRTC
void libraryLogBridge(rtc::LogLevel level, std::string message);
#endif

// Installs the bridge at level Info; nothing without a WebRTC library.
void installLibraryLogBridge();

} // namespace dravnok::host
