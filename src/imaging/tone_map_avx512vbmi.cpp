// The 8-bit tone map with AVX-512 VBMI: a 256-entry byte table is four
// registers, and two two-register byte permutes and a blend on the top bit
// of the sample look up sixty-four samples at once.
#include "imaging/tone_kernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
// GCC 12's AVX-512 headers fill the unused source of some intrinsics with a
// self-initialised "undefined" register, which its own uninitialised-value
// analysis then reports at every use (fixed in GCC 13's headers the same way):
// the report concerns the header's lines only, so it is turned off for them.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
#endif

namespace varnel {

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)

bool Avx512VbmiMapBuilt() { return true; }

void MapBytesAvx512Vbmi(uint8_t* dst, const uint8_t* src, int count, bool keepFourth,
                        const uint8_t* table) {
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  // With four samples a pixel the fourth keeps its value; runs start on a
  // pixel, and 64 is a whole number of pixels.
  const __mmask64 keep = keepFourth ? 0x8888888888888888ull : 0;
  auto map = [&](__m512i v) {
    const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
    const __m512i mapped = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    return _mm512_mask_blend_epi8(keep, mapped, v);
  };
  int i = 0;
  for (; i + 64 <= count; i += 64) _mm512_storeu_si512(dst + i, map(_mm512_loadu_si512(src + i)));
  if (i < count) {
    // The rest with masked loads and stores, which touch no byte outside it.
    const __mmask64 rest = (~0ull) >> (64 - (count - i));
    _mm512_mask_storeu_epi8(dst + i, rest, map(_mm512_maskz_loadu_epi8(rest, src + i)));
  }
}

#else

bool Avx512VbmiMapBuilt() { return false; }

void MapBytesAvx512Vbmi(uint8_t* dst, const uint8_t* src, int count, bool keepFourth,
                        const uint8_t* table) {
  for (int i = 0; i < count; ++i) dst[i] = keepFourth && i % 4 == 3 ? src[i] : table[src[i]];
}

#endif

}  // namespace varnel
