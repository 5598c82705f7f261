// fuzz-deps: dravnok::session dravnok::rtc
// The browser's offer is read twice: by the scan that picks the H.264 payload
// type, and by the session description parser. Neither may read outside the
// text or throw anything but the parser's documented invalid_argument, and
// what the parser accepts it must be able to write and read back.
#include "session/video_offer.h"

#include <rtc/description.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sdp(reinterpret_cast<const char*>(data), size);

  dravnok::VideoOfferInfo info;
  dravnok::scanVideoOffer(sdp, info);
  dravnok::profileLevelIdOf(sdp);

  try {
    rtc::Description description(sdp, "offer");
    const std::string written = description.generateSdp();
    rtc::Description again(written, "offer");
    if (again.mediaCount() != description.mediaCount()) std::abort();
    for (int i = 0; i < description.mediaCount(); ++i) {
      if (again.entry(i)->mid() != description.entry(i)->mid()) std::abort();
    }
    description.candidates();
    description.bundleMid();
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
