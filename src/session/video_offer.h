#pragma once
// What the browser's offer says about the video it wants to receive.
#include <string>
#include <string_view>

namespace dravnok {

struct VideoOfferInfo {
  std::string mid;
  int payloadType = -1;
  std::string profileLevelId; // may be empty
};

// Finds the video section's media id and the H.264 payload type to send in
// packetization mode 1, preferring Constrained Baseline, then Baseline, at
// level 3.1. False when there is no usable type (out.mid is still filled
// once a video section with a media id was seen).
bool scanVideoOffer(std::string_view sdp, VideoOfferInfo& out);

// At most the six characters after the first "profile-level-id=".
std::string profileLevelIdOf(std::string_view fmtp);

} // namespace dravnok
