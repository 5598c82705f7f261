#include "host/host_callbacks.h"

#include "banner/banner_layout.h"
#include "host/diagnostic_log.h"
#include "host/event_writer.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <string>

namespace dravnok::host {

std::u16string bannerTextFor(const std::string& viewerName) { return banner::bannerTextFor(viewerName); }

HostCallbacks makeHostCallbacks(HostState& state, SessionBanner& banner) {
  HostCallbacks callbacks;
  callbacks.onAnswer = [](const std::string& sdp) {
    writeEvent({{"evt", "answer"}, {"sdp", sdp}});
    logToFile("sdp", "ANSWER (what we send the browser):\n" + sdp);
  };
  callbacks.onCandidate = [](const std::string& candidate, const std::string& mid, int mlineIndex, bool done) {
    if (done) {
      writeEvent({{"evt", "ice"}, {"candidate", nullptr}});
    } else {
      writeEvent(
          {{"evt", "ice"}, {"candidate", {{"candidate", candidate}, {"sdpMid", mid}, {"sdpMLineIndex", mlineIndex}}}});
    }
  };
  callbacks.onState = [&state, &banner](const std::string& value) {
    writeEvent({{"evt", "state"}, {"value", value}});
    logToFile("state", "peerConnection -> " + value);
    if (value == "connected") {
      // This runs on the connection's thread: an exception leaving it would
      // end the process.
      try {
        banner.show(bannerTextFor(state.currentViewerName()));
      } catch (const std::exception& e) {
        logEvent("error", std::string("the session banner cannot be shown: ") + e.what());
      }
    } else if (value == "failed" || value == "closed") {
      banner.hide();
      state.quitRequested = true;
    }
  };
  callbacks.onLog = [](const std::string& level, const std::string& message) { logEvent(level, message); };
  return callbacks;
}

} // namespace dravnok::host
