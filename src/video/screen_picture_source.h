#pragma once
// The session's capturer and colour conversion as the encode loop's source
// of pictures.
#include "video/picture_source.h"

#include <memory>

namespace dravnok::capture {
class ScreenCapturer;
}

namespace dravnok::video {

// Null where this platform's capturer cannot feed the encoder yet.
std::unique_ptr<PictureSource> makeScreenPictureSource(capture::ScreenCapturer& capturer, int32_t encodeWidth,
                                                       int32_t encodeHeight);

// The loop's capture settings: CPU images only, unchanged screens skipped.
void prepareCapturerForStreaming(capture::ScreenCapturer& capturer);

} // namespace dravnok::video
