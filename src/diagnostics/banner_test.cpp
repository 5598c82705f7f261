#include "diagnostics/modes.h"

#include "banner/banner_layout.h"
#include "banner/session_banner.h"
#include "common/env.h"

#include <chrono>
#include <string>
#include <thread>

namespace dravnok::diagnostics {

// Shows the banner, gives it time to appear, and lets the capture self-test
// take a picture of the screen with the banner on it.
int runBannerTest(const std::string& bitmapPath) {
  const std::string name(envValue("DRAVNOK_BANNER_NAME").value_or(""));
  SessionBanner banner;
  banner.show(banner::bannerTextFor(name));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const int code = runCaptureSelfTest(bitmapPath);
  banner.hide();
  return code;
}

} // namespace dravnok::diagnostics
