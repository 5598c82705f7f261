#pragma once
// H.264 in software with OpenH264, where the platform has no encoder of its
// own (Windows without its Media Foundation encoder, or a Linux without
// libx264): constrained baseline, a fixed quantiser that follows the loop's
// quality, key frames only on request, BT.709 limited range signalled.
#include "video/encoder_backend.h"

#include <memory>

namespace dravnok::video {

// Quality 1..100 onto the encoder's quantiser (10..51, lower is better).
int openH264QuantizerFor(int32_t quality);
// DRAVNOK_REMOTE_QVS onto the encoder's complexity mode (0 fastest, 2 best).
int openH264ComplexityFor(int32_t qualityVsSpeed);

std::unique_ptr<EncoderBackend> makeOpenH264Encoder();

} // namespace dravnok::video
