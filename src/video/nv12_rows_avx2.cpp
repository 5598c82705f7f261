// AVX2 row converter, 16 columns of two rows per step.
//
// Luma: a byte shuffle makes each pixel B, G, G, R, so that one byte
// multiply-add and one word multiply-add give the exact luma numerator:
// 620B + 6142G + 1826R = 20 (31B + 83G) + 166 (27G + 11R); the byte sums
// stay below 114 x 255, so the saturating multiply-add never saturates.
// Chroma: the 2x2 channel sums (at most 1020) go through word multiply-adds
// with halved coefficients (all of them are even).
//
// Division: in single precision, see fixed_quotient.h. The upper half of
// each 32-bit result is the value; a lower half of 0 marks a halfway
// point, whose output is then redone with the double expression. Values
// are at least 16, so an upper half is never 0.
//
// Built for every CPU and chosen at run time, hence the function-level
// target attributes.
#include "video/colour_formulas.h"
#include "video/column_windows.h"
#include "video/fixed_quotient.h"
#include "video/nv12_rows.h"

#include <immintrin.h>

#define DRAVNOK_AVX2 __attribute__((target("avx2,fma")))

namespace dravnok::video {
namespace {

struct Constants {
  __m256i pixelBgg, lumaBytes, lumaWords, pairBytes, ones8, uvDirect, uvSwapped, order, lumaOffset, chromaOffset;
  __m256 lumaScale, lumaBias, chromaScale, chromaBias;
};

DRAVNOK_AVX2 inline __m256i perPixel(int8_t b0, int8_t b1, int8_t b2, int8_t b3) {
  const int value = static_cast<uint8_t>(b0) | static_cast<uint8_t>(b1) << 8 | static_cast<uint8_t>(b2) << 16 |
                    static_cast<uint8_t>(b3) << 24;
  return _mm256_set1_epi32(value);
}

DRAVNOK_AVX2 inline Constants makeConstants() {
  Constants k;
  k.pixelBgg = _mm256_setr_epi8(0, 1, 1, 2, 4, 5, 5, 6, 8, 9, 9, 10, 12, 13, 13, 14, 0, 1, 1, 2, 4, 5, 5, 6, 8, 9, 9,
                                10, 12, 13, 13, 14);
  k.lumaBytes = perPixel(31, 83, 27, 11);
  k.lumaWords = _mm256_set1_epi32(20 | 166 << 16);
  // Puts the same channel of two neighbouring pixels side by side.
  k.pairBytes = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9,
                                 13, 10, 14, 11, 15);
  k.ones8 = _mm256_set1_epi8(1);
  // Words B, G, R, A of a block give half of U from (B, G) x (2196, -1693)
  // and (R, A) x (-503, 0), half of V from (R, A) x (2196, 0) and (B, G) x
  // (-201, -1995).
  k.uvDirect =
      _mm256_setr_epi16(2196, -1693, 2196, 0, 2196, -1693, 2196, 0, 2196, -1693, 2196, 0, 2196, -1693, 2196, 0);
  k.uvSwapped =
      _mm256_setr_epi16(-503, 0, -201, -1995, -503, 0, -201, -1995, -503, 0, -201, -1995, -503, 0, -201, -1995);
  // Gathers the 4-byte groups of the two lanes.
  k.order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  k.lumaScale = _mm256_set1_ps(kLumaScale);
  k.lumaBias = _mm256_set1_ps(kLumaScaleBias);
  k.chromaScale = _mm256_set1_ps(kChromaScale);
  k.chromaBias = _mm256_set1_ps(kChromaScaleBias);
  k.lumaOffset = _mm256_set1_epi32(kLumaOffset);
  k.chromaOffset = _mm256_set1_epi32(kChromaOffset);
  return k;
}

DRAVNOK_AVX2 inline void store(void* at, __m256i value) { _mm256_storeu_si256(static_cast<__m256i*>(at), value); }

DRAVNOK_AVX2 inline __m256i fixedQuotient(__m256i offsetNumerator, __m256 scale, __m256 bias) {
  return _mm256_cvtps_epi32(_mm256_fmadd_ps(_mm256_castsi256_ps(offsetNumerator), scale, bias));
}

// Luma of eight pixels, in pixel order, as fixed-point quotients.
DRAVNOK_AVX2 inline __m256i luma8(const Constants& k, __m256i pixels) {
  const __m256i bggr = _mm256_shuffle_epi8(pixels, k.pixelBgg);
  const __m256i numerator = _mm256_madd_epi16(_mm256_maddubs_epi16(bggr, k.lumaBytes), k.lumaWords);
  return fixedQuotient(_mm256_add_epi32(numerator, k.lumaOffset), k.lumaScale, k.lumaBias);
}

// U, V, U, V ... of the four 2x2 blocks of eight columns, as fixed-point quotients.
DRAVNOK_AVX2 inline __m256i chroma8(const Constants& k, __m256i top, __m256i bottom) {
  const __m256i sums = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(top, k.pairBytes), k.ones8),
                                        _mm256_maddubs_epi16(_mm256_shuffle_epi8(bottom, k.pairBytes), k.ones8));
  const __m256i swapped = _mm256_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1));
  const __m256i numerator = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(sums, k.uvDirect), k.chromaOffset),
                                             _mm256_madd_epi16(swapped, k.uvSwapped));
  return fixedQuotient(numerator, k.chromaScale, k.chromaBias);
}

// How far ahead of the current step the source rows are prefetched: the
// hardware prefetcher alone leaves the loads waiting now and then. The
// address may lie beyond the picture (harmless for a prefetch), so it is
// formed in integer arithmetic.
constexpr uintptr_t kPrefetchBytes = 2048;

DRAVNOK_AVX2 inline void prefetchAhead(const uint8_t* at) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(at) + kPrefetchBytes), _MM_HINT_T0);
}

// Whole 8-pixel loads of rows read as they are.
struct DirectColumns {
  DRAVNOK_AVX2 __m256i load(const uint8_t* row, int x, int /*group*/) const {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * x));
  }
  DRAVNOK_AVX2 void prefetch(const uint8_t* row, int x, int /*group*/) const { prefetchAhead(row + 4 * x); }
};

// Scaled rows: each group of eight columns picks its pixels out of one or
// two windows of the source row.
template <bool TwoLoads> struct WindowColumns {
  const int32_t* starts;
  const int32_t* lanes;
  DRAVNOK_AVX2 __m256i load(const uint8_t* row, int /*x*/, int group) const {
    const uint8_t* window = row + starts[group];
    const __m256i lane = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 8 * group));
    const __m256i first =
        _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(window)), lane);
    if constexpr (!TwoLoads) return first;
    const __m256i second =
        _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(window) + 1), lane);
    return _mm256_castps_si256(
        _mm256_blendv_ps(_mm256_castsi256_ps(first), _mm256_castsi256_ps(second), _mm256_castsi256_ps(lane)));
  }
  DRAVNOK_AVX2 void prefetch(const uint8_t* row, int /*x*/, int group) const { prefetchAhead(row + starts[group]); }
};

template <class Columns>
DRAVNOK_AVX2 inline void convertRows(const Columns& columns, const uint8_t* top, const uint8_t* bottom, int width,
                                     uint8_t* lumaTop, uint8_t* lumaBottom, uint8_t* chroma) {
  const Constants k = makeConstants();
  const int steps = columnSteps(width);
  for (int step = 0; step < steps; ++step) {
    const int x = stepStart(step, width);
    columns.prefetch(top, x, 2 * step);
    columns.prefetch(bottom, x, 2 * step);
    const __m256i t0 = columns.load(top, x, 2 * step), t1 = columns.load(top, x + 8, 2 * step + 1);
    const __m256i b0 = columns.load(bottom, x, 2 * step), b1 = columns.load(bottom, x + 8, 2 * step + 1);
    // Each quotient is folded into the halfway test and the output words as
    // soon as it exists, which keeps the live registers few.
    const __m256i yt0 = luma8(k, t0), yt1 = luma8(k, t1);
    __m256i lowest = _mm256_min_epu16(yt0, yt1);
    // Words: top 0-3, 8-11 | 4-7, 12-15; bytes in 4-byte groups: top 0-3,
    // top 8-11, bottom 0-3, bottom 8-11 | top 4-7, top 12-15, bottom ...
    const __m256i yTop = _mm256_packus_epi32(_mm256_srli_epi32(yt0, 16), _mm256_srli_epi32(yt1, 16));
    const __m256i yb0 = luma8(k, b0), yb1 = luma8(k, b1);
    lowest = _mm256_min_epu16(lowest, _mm256_min_epu16(yb0, yb1));
    const __m256i yBottom = _mm256_packus_epi32(_mm256_srli_epi32(yb0, 16), _mm256_srli_epi32(yb1, 16));
    const __m256i luma = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(yTop, yBottom), k.order);
    const __m256i uv0 = chroma8(k, t0, b0), uv1 = chroma8(k, t1, b1);
    lowest = _mm256_min_epu16(lowest, _mm256_min_epu16(uv0, uv1));
    const __m256i uvWords = _mm256_packus_epi32(_mm256_srli_epi32(uv0, 16), _mm256_srli_epi32(uv1, 16));
    const __m256i uv = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(uvWords, uvWords), k.order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lumaTop + x), _mm256_castsi256_si128(luma));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lumaBottom + x), _mm256_extracti128_si256(luma, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(chroma + x), _mm256_castsi256_si128(uv));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(lowest, _mm256_setzero_si256())) != 0) {
      // Rare: the quotients are formed again rather than kept in registers.
      uint8_t pixels[2][64];
      uint32_t quotients[3][kColumnsPerStep];
      store(pixels[0], t0);
      store(pixels[0] + 32, t1);
      store(pixels[1], b0);
      store(pixels[1] + 32, b1);
      store(quotients[0], luma8(k, t0));
      store(quotients[0] + 8, luma8(k, t1));
      store(quotients[1], luma8(k, b0));
      store(quotients[1] + 8, luma8(k, b1));
      store(quotients[2], chroma8(k, t0, b0));
      store(quotients[2] + 8, chroma8(k, t1, b1));
      redoHalfwayPoints(pixels[0], pixels[1], kColumnsPerStep, quotients[0], quotients[1], quotients[2], lumaTop + x,
                        lumaBottom + x, chroma + x);
    }
  }
}

} // namespace

DRAVNOK_AVX2 void convertRowPairAvx2(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop,
                                     uint8_t* lumaBottom, uint8_t* chroma) {
  if (width < kColumnsPerStep) {
    convertRowPairScalar(top, bottom, width, lumaTop, lumaBottom, chroma);
    return;
  }
  convertRows(DirectColumns{}, top, bottom, width, lumaTop, lumaBottom, chroma);
}

DRAVNOK_AVX2 void convertMappedRowPairAvx2(const uint8_t* top, const uint8_t* bottom, const ColumnWindows& windows,
                                           int width, uint8_t* lumaTop, uint8_t* lumaBottom, uint8_t* chroma) {
  if (windows.loads == 2) {
    convertRows(WindowColumns<true>{windows.starts.data(), windows.lanes.data()}, top, bottom, width, lumaTop,
                lumaBottom, chroma);
  } else {
    convertRows(WindowColumns<false>{windows.starts.data(), windows.lanes.data()}, top, bottom, width, lumaTop,
                lumaBottom, chroma);
  }
}

} // namespace dravnok::video
