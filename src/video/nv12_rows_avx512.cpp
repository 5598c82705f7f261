// AVX-512 row converter, 32 columns of two rows per step: the arithmetic of
// the AVX2 converter on twice the width. The 16-bit multiply-adds that end
// each numerator also add its offset, and one byte permute per output row
// picks the 32 quotients out of the upper halves of two registers, which
// replaces the shifts and packs.
//
// Built for every CPU and chosen at run time, hence the function-level
// target attributes.
#include "video/colour_formulas.h"
#include "video/column_windows.h"
#include "video/fixed_quotient.h"
#include "video/nv12_rows.h"

// GCC 12's 512-bit intrinsics start from a deliberately undefined register
// and then warn that it may be used uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define DRAVNOK_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni")))

namespace dravnok::video {
namespace {

constexpr int kColumns = 32;

struct Constants {
  __m512i pixelBgg, lumaBytes, lumaWords, pairBytes, ones8, uvDirect, uvSwapped, upperBytes, lumaOffset, chromaOffset;
  __m512 lumaScale, lumaBias, chromaScale, chromaBias;
};

DRAVNOK_AVX512 inline __m512i perLane(const int8_t (&bytes)[16]) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

DRAVNOK_AVX512 inline Constants makeConstants() {
  static constexpr int8_t pixelBgg[16] = {0, 1, 1, 2, 4, 5, 5, 6, 8, 9, 9, 10, 12, 13, 13, 14};
  // Puts the same channel of two neighbouring pixels side by side.
  static constexpr int8_t pairBytes[16] = {0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15};
  static constexpr int8_t lumaBytes[16] = {31, 83, 27, 11, 31, 83, 27, 11, 31, 83, 27, 11, 31, 83, 27, 11};
  Constants k;
  k.pixelBgg = perLane(pixelBgg);
  k.pairBytes = perLane(pairBytes);
  k.lumaBytes = perLane(lumaBytes);
  k.lumaWords = _mm512_set1_epi32(20 | 166 << 16);
  k.ones8 = _mm512_set1_epi8(1);
  // Words B, G, R, A of a block give half of U from (B, G) x (2196, -1693)
  // and (R, A) x (-503, 0), half of V from (R, A) x (2196, 0) and (B, G) x
  // (-201, -1995).
  k.uvDirect = _mm512_set1_epi64(static_cast<int64_t>(0x0000'0894'F963'0894ULL));
  k.uvSwapped = _mm512_set1_epi64(static_cast<int64_t>(0xF835'FF37'0000'FE09ULL));
  // Byte 2 of each 32-bit lane of the first register, then of the second
  // (indices from 64 name the second); the upper 32 bytes are not stored.
  int8_t upper[64] = {};
  for (int i = 0; i < 32; ++i) upper[i] = static_cast<int8_t>(4 * i + 2);
  k.upperBytes = _mm512_loadu_si512(upper);
  k.lumaScale = _mm512_set1_ps(kLumaScale);
  k.lumaBias = _mm512_set1_ps(kLumaScaleBias);
  k.chromaScale = _mm512_set1_ps(kChromaScale);
  k.chromaBias = _mm512_set1_ps(kChromaScaleBias);
  k.lumaOffset = _mm512_set1_epi32(kLumaOffset);
  k.chromaOffset = _mm512_set1_epi32(kChromaOffset);
  return k;
}

DRAVNOK_AVX512 inline __m512i fixedQuotient(__m512i offsetNumerator, __m512 scale, __m512 bias) {
  return _mm512_cvtps_epi32(_mm512_fmadd_ps(_mm512_castsi512_ps(offsetNumerator), scale, bias));
}

// Luma of sixteen pixels, in pixel order, as fixed-point quotients.
DRAVNOK_AVX512 inline __m512i luma16(const Constants& k, __m512i pixels) {
  const __m512i bggr = _mm512_shuffle_epi8(pixels, k.pixelBgg);
  const __m512i numerator = _mm512_dpwssd_epi32(k.lumaOffset, _mm512_maddubs_epi16(bggr, k.lumaBytes), k.lumaWords);
  return fixedQuotient(numerator, k.lumaScale, k.lumaBias);
}

// U, V, U, V ... of the eight 2x2 blocks of sixteen columns, as fixed-point quotients.
DRAVNOK_AVX512 inline __m512i chroma16(const Constants& k, __m512i top, __m512i bottom) {
  const __m512i sums = _mm512_add_epi16(_mm512_maddubs_epi16(_mm512_shuffle_epi8(top, k.pairBytes), k.ones8),
                                        _mm512_maddubs_epi16(_mm512_shuffle_epi8(bottom, k.pairBytes), k.ones8));
  const __m512i swapped = _mm512_shuffle_epi32(sums, _MM_PERM_CDAB);
  const __m512i numerator =
      _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(k.chromaOffset, sums, k.uvDirect), swapped, k.uvSwapped);
  return fixedQuotient(numerator, k.chromaScale, k.chromaBias);
}

// Values are at least 16, so an upper half is never 0 and a zero word is
// a lower half on a halfway point.
DRAVNOK_AVX512 inline __m512i lower(__m512i a, __m512i b) { return _mm512_min_epu16(a, b); }

// How far ahead the source rows are prefetched: the hardware prefetcher
// alone leaves the loads waiting now and then. The address may lie beyond
// the picture (harmless for a prefetch), so it is formed in integer
// arithmetic.
constexpr uintptr_t kPrefetchBytes = 2048;

DRAVNOK_AVX512 inline void prefetchAhead(const uint8_t* at) {
  const uintptr_t ahead = reinterpret_cast<uintptr_t>(at) + kPrefetchBytes;
  _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
}

DRAVNOK_AVX512 inline void store32(uint8_t* at, __m512i bytes) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm512_castsi512_si256(bytes));
}

} // namespace

DRAVNOK_AVX512 void convertRowPairAvx512(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop,
                                         uint8_t* lumaBottom, uint8_t* chroma) {
  if (width < kColumns) {
    convertRowPairAvx2(top, bottom, width, lumaTop, lumaBottom, chroma);
    return;
  }
  const Constants k = makeConstants();
  // The last step starts at width - 32 and may overlap the one before it.
  for (int x = 0;; x += kColumns) {
    if (x > width - kColumns) x = width - kColumns;
    prefetchAhead(top + 4 * x);
    prefetchAhead(bottom + 4 * x);
    const __m512i t0 = _mm512_loadu_si512(top + 4 * x), t1 = _mm512_loadu_si512(top + 4 * x + 64);
    const __m512i b0 = _mm512_loadu_si512(bottom + 4 * x), b1 = _mm512_loadu_si512(bottom + 4 * x + 64);
    const __m512i yt0 = luma16(k, t0), yt1 = luma16(k, t1);
    __m512i lowest = lower(yt0, yt1);
    store32(lumaTop + x, _mm512_permutex2var_epi8(yt0, k.upperBytes, yt1));
    const __m512i yb0 = luma16(k, b0), yb1 = luma16(k, b1);
    lowest = lower(lowest, lower(yb0, yb1));
    store32(lumaBottom + x, _mm512_permutex2var_epi8(yb0, k.upperBytes, yb1));
    const __m512i uv0 = chroma16(k, t0, b0), uv1 = chroma16(k, t1, b1);
    lowest = lower(lowest, lower(uv0, uv1));
    store32(chroma + x, _mm512_permutex2var_epi8(uv0, k.upperBytes, uv1));
    if (_mm512_testn_epi16_mask(lowest, lowest) != 0) {
      // Rare: the quotients are formed again rather than kept in registers.
      uint32_t quotients[3][kColumns];
      _mm512_storeu_si512(quotients[0], luma16(k, t0));
      _mm512_storeu_si512(quotients[0] + 16, luma16(k, t1));
      _mm512_storeu_si512(quotients[1], luma16(k, b0));
      _mm512_storeu_si512(quotients[1] + 16, luma16(k, b1));
      _mm512_storeu_si512(quotients[2], chroma16(k, t0, b0));
      _mm512_storeu_si512(quotients[2] + 16, chroma16(k, t1, b1));
      redoHalfwayPoints(top + 4 * x, bottom + 4 * x, kColumns, quotients[0], quotients[1], quotients[2], lumaTop + x,
                        lumaBottom + x, chroma + x);
    }
    if (x == width - kColumns) break;
  }
}

} // namespace dravnok::video
