// SSE2 row converter, 8 columns per step. The divisions by 10000 and 40000
// run in single precision on operands small enough to be exact, with a
// rounding margin far above the float error; blocks that hold an exact
// halfway point are redone by the scalar converter.
#include "video/colour_formulas.h"
#include "video/nv12_rows.h"

#include <emmintrin.h>

namespace dravnok::video {
namespace {

struct Constants {
  __m128i zero = _mm_setzero_si128();
  __m128i lumaCoefficients = _mm_setr_epi16(620, 6142, 1826, 0, 620, 6142, 1826, 0);
  __m128i uCoefficients = _mm_setr_epi16(4392, -3386, -1006, 0, 4392, -3386, -1006, 0);
  __m128i vCoefficients = _mm_setr_epi16(-402, -3990, 4392, 0, -402, -3990, 4392, 0);
  // The luma numerator is always even; one more keeps the quotient of an
  // exact multiple 1e-4 away from the integer below it.
  __m128i lumaBias = _mm_set1_epi32(static_cast<int>(kLumaBias) + 1);
  __m128i chromaBias = _mm_set1_epi32(static_cast<int>(kChromaBias));
  __m128i one = _mm_set1_epi32(1);
  __m128 lumaInverse = _mm_set1_ps(1.0f / kLumaDivisor);
  __m128 lumaMargin = _mm_set1_ps(2e-4f);
  // Chroma: (T >> 6) / 625 with T >> 6 below 2^18, taken as (2x + 1) / 1250.
  __m128 chromaInverse = _mm_set1_ps(1.0f / 1250);
  __m128 chromaDivisor = _mm_set1_ps(static_cast<float>(kChromaDivisor));
};

// [a0,b0,a1,b1], [a2,b2,a3,b3] -> [a0+b0, a1+b1, a2+b2, a3+b3]
inline __m128i addPairs(__m128i first, __m128i second) {
  __m128 f = _mm_castsi128_ps(first), s = _mm_castsi128_ps(second);
  __m128i even = _mm_castps_si128(_mm_shuffle_ps(f, s, _MM_SHUFFLE(2, 0, 2, 0)));
  __m128i odd = _mm_castps_si128(_mm_shuffle_ps(f, s, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(even, odd);
}

// Luma of four pixels; clears lanes of `exact` that sit on a halfway point.
inline __m128i luma4(const Constants& k, __m128i lo, __m128i hi, __m128i& exact) {
  __m128i s = _mm_add_epi32(addPairs(_mm_madd_epi16(lo, k.lumaCoefficients), _mm_madd_epi16(hi, k.lumaCoefficients)),
                            k.lumaBias);
  __m128 quotient = _mm_mul_ps(_mm_cvtepi32_ps(s), k.lumaInverse);
  __m128i q = _mm_cvttps_epi32(quotient);
  exact = _mm_and_si128(exact, _mm_cmpeq_epi32(q, _mm_cvttps_epi32(_mm_sub_ps(quotient, k.lumaMargin))));
  return q;
}

// U, V, U, V for four columns of two rows (16-bit vertical sums given).
inline __m128i chroma4(const Constants& k, __m128i sumLo, __m128i sumHi, __m128i& halfway) {
  __m128i u = addPairs(_mm_madd_epi16(sumLo, k.uCoefficients), _mm_madd_epi16(sumHi, k.uCoefficients));
  __m128i v = addPairs(_mm_madd_epi16(sumLo, k.vCoefficients), _mm_madd_epi16(sumHi, k.vCoefficients));
  // [u0,u1,v0,v1] and [u2,u3,v2,v3] give u01, v01, u23, v23.
  __m128i t = _mm_add_epi32(addPairs(_mm_unpacklo_epi64(u, v), _mm_unpackhi_epi64(u, v)), k.chromaBias);
  __m128i odd = _mm_or_si128(_mm_srli_epi32(t, 5), k.one);
  __m128i q = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(odd), k.chromaInverse));
  __m128 back = _mm_mul_ps(_mm_cvtepi32_ps(q), k.chromaDivisor);
  halfway = _mm_or_si128(halfway, _mm_castps_si128(_mm_cmpeq_ps(back, _mm_cvtepi32_ps(t))));
  return q;
}

} // namespace

void convertRowPairSse2(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                        uint8_t* chroma) {
  const Constants k;
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    __m128i exact = _mm_set1_epi32(-1);
    __m128i halfway = k.zero;
    __m128i lumaQ[4];
    __m128i chromaQ[2];
    for (int half = 0; half < 2; ++half) {
      __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 4 * x) + half);
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 4 * x) + half);
      __m128i tLo = _mm_unpacklo_epi8(t, k.zero), tHi = _mm_unpackhi_epi8(t, k.zero);
      __m128i bLo = _mm_unpacklo_epi8(b, k.zero), bHi = _mm_unpackhi_epi8(b, k.zero);
      lumaQ[half] = luma4(k, tLo, tHi, exact);
      lumaQ[2 + half] = luma4(k, bLo, bHi, exact);
      chromaQ[half] = chroma4(k, _mm_add_epi16(tLo, bLo), _mm_add_epi16(tHi, bHi), halfway);
    }
    __m128i luma = _mm_packus_epi16(_mm_packs_epi32(lumaQ[0], lumaQ[1]), _mm_packs_epi32(lumaQ[2], lumaQ[3]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaTop + x), luma);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaBottom + x), _mm_srli_si128(luma, 8));
    __m128i uv = _mm_packs_epi32(chromaQ[0], chromaQ[1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(chroma + x), _mm_packus_epi16(uv, uv));
    if (_mm_movemask_epi8(exact) != 0xFFFF || _mm_movemask_epi8(halfway) != 0) {
      convertRowPairScalar(top + 4 * x, bottom + 4 * x, 8, lumaTop + x, lumaBottom + x, chroma + x);
    }
  }
  if (x < width) convertRowPairScalar(top + 4 * x, bottom + 4 * x, width - x, lumaTop + x, lumaBottom + x, chroma + x);
}

} // namespace dravnok::video
