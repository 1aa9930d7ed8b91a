// SSE2 form of the two-ended unfolding: sixteen units per step, their near
// bytes stored forwards on the left, their far bytes reversed on the right.
#include "instance/two_ended_intake.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)

namespace {

// The sixteen bytes in reverse order.
inline __m128i ReverseBytes(__m128i v) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

}  // namespace

bool HaveUnfoldTwoEndedSse2() { return true; }

int UnfoldTwoEndedRowSse2(const uint8_t* units, int count, uint8_t* row, bool mirrored) {
  const __m128i low = _mm_set1_epi16(0x00FF);
  uint8_t* right = row + 2 * count;
  int k = 0;
  for (; k + 16 <= count; k += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * k + 16));
    // Each unit's first byte is its low byte, its second its high byte.
    const __m128i first = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
    const __m128i second = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    const __m128i nearBytes = mirrored ? first : second;
    const __m128i farBytes = mirrored ? second : first;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + k), nearBytes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(right - k - 16), ReverseBytes(farBytes));
  }
  return k;
}

#else

bool HaveUnfoldTwoEndedSse2() { return false; }
int UnfoldTwoEndedRowSse2(const uint8_t*, int, uint8_t*, bool) { return 0; }

#endif

}  // namespace varnel
