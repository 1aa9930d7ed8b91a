// SSE2 reduction kernel: sixteen 16-bit samples to their 8-bit part per step.
#include "imaging/reduction_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

void NarrowSamplesSse2(uint8_t* dst, const uint8_t* src, int count, int shift) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i bits = _mm_cvtsi32_si128(shift), low = _mm_set1_epi16(0x00FF);
  for (; i + 16 <= count; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i + 16));
    // The low byte, as the scalar reduction keeps it: no saturation.
    const __m128i lo = _mm_and_si128(_mm_srl_epi16(a, bits), low);
    const __m128i hi = _mm_and_si128(_mm_srl_epi16(b, bits), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < count; ++i) {
    dst[i] = static_cast<uint8_t>((src[2 * i] | src[2 * i + 1] << 8) >> shift);
  }
}

}  // namespace varnel
