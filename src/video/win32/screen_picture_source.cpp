#include "video/screen_picture_source.h"

namespace dravnok::video {

// Textures reach the encoder through its own sample path, which this
// platform does not have yet.
std::unique_ptr<PictureSource> makeScreenPictureSource(capture::ScreenCapturer&, int32_t, int32_t) { return nullptr; }

void prepareCapturerForStreaming(capture::ScreenCapturer&) {}

} // namespace dravnok::video
