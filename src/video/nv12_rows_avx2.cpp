// AVX2 row converter, 16 columns per step; the same arithmetic as the SSE2
// one (see there). Built for every CPU and chosen at run time, hence the
// function-level target attributes.
#include "video/colour_formulas.h"
#include "video/nv12_rows.h"

#include <immintrin.h>

#define DRAVNOK_AVX2 __attribute__((target("avx2")))

namespace dravnok::video {
namespace {

struct Constants {
  __m256i allOnes, lumaLow, lumaHigh, ones16, sixtyFour16, pairBytes, ones8, uCoefficients, vCoefficients, lumaBias,
      chromaBias, one, order;
  __m256 lumaInverse, lumaMargin, chromaInverse, chromaDivisor;
};

// The luma coefficients in base-64 digits, small enough for byte multiplies:
// 620 = 9*64 + 44, 6142 = 95*64 + 62, 1826 = 28*64 + 34.
DRAVNOK_AVX2 inline __m256i perPixel(int8_t b, int8_t g, int8_t r) {
  const int value = static_cast<uint8_t>(b) | static_cast<uint8_t>(g) << 8 | static_cast<uint8_t>(r) << 16;
  return _mm256_set1_epi32(value);
}

DRAVNOK_AVX2 inline Constants makeConstants() {
  Constants k;
  k.allOnes = _mm256_set1_epi32(-1);
  k.lumaLow = perPixel(44, 62, 34);
  k.lumaHigh = perPixel(9, 95, 28);
  k.ones16 = _mm256_set1_epi16(1);
  k.sixtyFour16 = _mm256_set1_epi16(64);
  // Puts the same channel of two neighbouring pixels side by side.
  k.pairBytes = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9,
                                 13, 10, 14, 11, 15);
  k.ones8 = _mm256_set1_epi8(1);
  k.uCoefficients =
      _mm256_setr_epi16(4392, -3386, -1006, 0, 4392, -3386, -1006, 0, 4392, -3386, -1006, 0, 4392, -3386, -1006, 0);
  k.vCoefficients =
      _mm256_setr_epi16(-402, -3990, 4392, 0, -402, -3990, 4392, 0, -402, -3990, 4392, 0, -402, -3990, 4392, 0);
  k.lumaBias = _mm256_set1_epi32(static_cast<int>(kLumaBias) + 1);
  k.chromaBias = _mm256_set1_epi32(static_cast<int>(kChromaBias));
  k.one = _mm256_set1_epi32(1);
  // Gathers the 4-byte groups of the two lanes: top, bottom, then chroma.
  k.order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  k.lumaInverse = _mm256_set1_ps(1.0f / kLumaDivisor);
  k.lumaMargin = _mm256_set1_ps(2e-4f);
  k.chromaInverse = _mm256_set1_ps(1.0f / 1250);
  k.chromaDivisor = _mm256_set1_ps(static_cast<float>(kChromaDivisor));
  return k;
}

// Luma of eight pixels, in pixel order.
DRAVNOK_AVX2 inline __m256i luma8(const Constants& k, __m256i pixels, __m256i& exact) {
  __m256i low = _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, k.lumaLow), k.ones16);
  __m256i high = _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, k.lumaHigh), k.sixtyFour16);
  __m256i s = _mm256_add_epi32(_mm256_add_epi32(low, high), k.lumaBias);
  __m256 quotient = _mm256_mul_ps(_mm256_cvtepi32_ps(s), k.lumaInverse);
  __m256i q = _mm256_cvttps_epi32(quotient);
  exact = _mm256_and_si256(exact, _mm256_cmpeq_epi32(q, _mm256_cvttps_epi32(_mm256_sub_ps(quotient, k.lumaMargin))));
  return q;
}

// Channel sums of the 2x2 blocks of eight columns: words B, G, R, A per block.
DRAVNOK_AVX2 inline __m256i blockSums(const Constants& k, __m256i top, __m256i bottom) {
  return _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(top, k.pairBytes), k.ones8),
                          _mm256_maddubs_epi16(_mm256_shuffle_epi8(bottom, k.pairBytes), k.ones8));
}

// U, V pairs of eight columns of two rows, in column order.
DRAVNOK_AVX2 inline __m256i chroma8(const Constants& k, __m256i sums, __m256i& halfway) {
  __m256i pairs = _mm256_hadd_epi32(_mm256_madd_epi16(sums, k.uCoefficients), _mm256_madd_epi16(sums, k.vCoefficients));
  __m256i t = _mm256_add_epi32(_mm256_shuffle_epi32(pairs, _MM_SHUFFLE(3, 1, 2, 0)), k.chromaBias);
  __m256i odd = _mm256_or_si256(_mm256_srli_epi32(t, 5), k.one);
  __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(odd), k.chromaInverse));
  __m256 back = _mm256_mul_ps(_mm256_cvtepi32_ps(q), k.chromaDivisor);
  halfway = _mm256_or_si256(halfway, _mm256_castps_si256(_mm256_cmp_ps(back, _mm256_cvtepi32_ps(t), _CMP_EQ_OQ)));
  return q;
}

} // namespace

DRAVNOK_AVX2 void convertRowPairAvx2(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop,
                                     uint8_t* lumaBottom, uint8_t* chroma) {
  const Constants k = makeConstants();
  int x = 0;
  // Eight columns of both rows per step: few enough live values that
  // nothing is spilled to the stack.
  for (; x + 8 <= width; x += 8) {
    __m256i exact = _mm256_set1_epi32(-1);
    __m256i halfway = _mm256_setzero_si256();
    _mm_prefetch(reinterpret_cast<const char*>(top + 4 * x + 1024), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(bottom + 4 * x + 1024), _MM_HINT_T0);
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 4 * x));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 4 * x));
    const __m256i yTop = luma8(k, t, exact);
    const __m256i yBottom = luma8(k, b, exact);
    const __m256i uv = chroma8(k, blockSums(k, t, b), halfway);
    // 4-byte groups: top 0-3, bottom 0-3, uv 0-3, uv 0-3 | top 4-7, bottom 4-7, uv 4-7, uv 4-7.
    const __m256i bytes = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packs_epi32(yTop, yBottom), _mm256_packs_epi32(uv, uv)), k.order);
    const __m128i lumaBytes = _mm256_castsi256_si128(bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaTop + x), lumaBytes);
    // An unaligned 8-byte store: a double store would assume alignment.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaBottom + x), _mm_unpackhi_epi64(lumaBytes, lumaBytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(chroma + x), _mm256_extracti128_si256(bytes, 1));
    if (!_mm256_testc_si256(exact, k.allOnes) || !_mm256_testz_si256(halfway, halfway)) {
      convertRowPairScalar(top + 4 * x, bottom + 4 * x, 8, lumaTop + x, lumaBottom + x, chroma + x);
    }
  }
  if (x < width) convertRowPairScalar(top + 4 * x, bottom + 4 * x, width - x, lumaTop + x, lumaBottom + x, chroma + x);
}

} // namespace dravnok::video
