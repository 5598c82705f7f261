#pragma once
// The vector converters divide in single precision. A numerator n (bias
// included, below 2^23) added as an integer to the bit pattern of 2^23 is
// the float 2^23 + n; one fused multiply-add by 65536 / divisor with the
// bias -2^23 x scale (an exact float) gives n x 65536 / divisor, which is
// rounded to an integer z. For every numerator the colour formulas can
// produce, z >> 16 is the integer quotient and z's lower 16 bits are 0
// exactly when the numerator is a multiple of the divisor (a halfway
// point), and at least 3 otherwise; the tests check every numerator.
// Chroma numerators are even and are halved first to stay below 2^23.
#include "video/colour_formulas.h"

#include <cstdint>

namespace dravnok::video {

inline constexpr int32_t kFloatTwo23Bits = 0x4B000000;

inline constexpr float kLumaScale = 65536.0f / kLumaDivisor;
inline constexpr float kLumaScaleBias = -8388608.0f * kLumaScale;
inline constexpr int32_t kLumaOffset = kFloatTwo23Bits + static_cast<int32_t>(kLumaBias);

inline constexpr float kChromaScale = 65536.0f / (kChromaDivisor / 2);
inline constexpr float kChromaScaleBias = -8388608.0f * kChromaScale;
inline constexpr int32_t kChromaOffset = kFloatTwo23Bits + static_cast<int32_t>(kChromaBias / 2);

} // namespace dravnok::video
