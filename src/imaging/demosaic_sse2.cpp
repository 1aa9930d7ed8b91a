// SSE2 demosaic interior: 16 output pixels per step, in 128-bit registers of
// eight 16-bit lanes (the step itself is in demosaic_vector.h).
#include "imaging/demosaic.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

// Stores the two pixel pairs of p, each the low 6 bytes of a 64-bit lane, at
// d and d + 6. Each 8-byte store spills 2 bytes onto the next pixel, which the
// caller writes afterwards; with kExact the second pair is written as exactly
// 6 bytes.
template <bool kExact>
inline void StorePairs(uint8_t* d, __m128i p) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), p);
  if constexpr (kExact) {
    const __m128i high = _mm_unpackhi_epi64(p, p);
    const int first4 = _mm_cvtsi128_si32(high);
    const uint16_t last2 = static_cast<uint16_t>(_mm_extract_epi16(high, 2));
    std::memcpy(d + 6, &first4, 4);
    std::memcpy(d + 10, &last2, 2);
  } else {
    // movhps through the builtin, which makes no aligned access of its own.
    _mm_storeh_pi(reinterpret_cast<__m64*>(d + 6), _mm_castsi128_ps(p));
  }
}

struct Sse2Lanes {
  using Vec = __m128i;
  static constexpr int kStep = 16;
  // A step reads up to column x + 17 and its store spills onto pixel x + 16.
  static constexpr int kMargin = 1;

  // Four output rows per pass: fewer mosaic rows' terms are formed twice,
  // which measured slightly faster than two rows despite some spills.
  static constexpr int kPairs = 2;

  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static Vec Splat(short k) { return _mm_set1_epi16(k); }
  static Vec Even(Vec v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
  static Vec Odd(Vec v) { return _mm_srli_epi16(v, 8); }
  static Vec Add(Vec a, Vec b) { return _mm_adds_epu16(a, b); }
  static Vec Half(Vec v) { return _mm_srli_epi16(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm_slli_epi16(v, n); }
  // ((sum >> 4) * k) >> 7, at most 510; the store limits it to 255. With the
  // low four bits cleared the sum is 16 (sum >> 4), and the high half of its
  // product with 32 k is (16 (sum >> 4) * 32 k) >> 16, the same value in one
  // multiplication and no shifts.
  static Vec Gain(Vec sum, Vec k32) {
    return _mm_mulhi_epu16(_mm_and_si128(sum, _mm_set1_epi16(static_cast<short>(0xFFF0))), k32);
  }
  // Even and odd B, G, R (16-bit lanes, at most 510) -> 16 pixels at d. A pixel
  // pair (even, odd) is the three 16-bit words (B G), (R B'), (G' R'), which
  // are interleaved into the 64-bit lanes of four registers, two pairs each.
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    // Saturating packs give the bytes [even 0..7, odd 0..7] of each colour.
    const __m128i z = _mm_setzero_si128();
    const __m128i b = _mm_packus_epi16(be, bo), g = _mm_packus_epi16(ge, go);
    const __m128i r = _mm_packus_epi16(re, ro);
    const __m128i w0 = _mm_unpacklo_epi8(b, g);                     // B G
    const __m128i w1 = _mm_unpacklo_epi8(r, _mm_srli_si128(b, 8));  // R B'
    const __m128i w2 = _mm_unpackhi_epi8(g, r);                     // G' R'
    const __m128i w01Lo = _mm_unpacklo_epi16(w0, w1), w01Hi = _mm_unpackhi_epi16(w0, w1);
    const __m128i w2Lo = _mm_unpacklo_epi16(w2, z), w2Hi = _mm_unpackhi_epi16(w2, z);
    StorePairs<false>(d, _mm_unpacklo_epi32(w01Lo, w2Lo));
    StorePairs<false>(d + 12, _mm_unpackhi_epi32(w01Lo, w2Lo));
    StorePairs<false>(d + 24, _mm_unpacklo_epi32(w01Hi, w2Hi));
    StorePairs<kExact>(d + 36, _mm_unpackhi_epi32(w01Hi, w2Hi));
  }
};

}  // namespace

bool HaveDemosaicSse2() { return true; }

int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorLanes<Sse2Lanes>(v, g);
}

#else

bool HaveDemosaicSse2() { return false; }
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorScalar(v, g);
}

#endif

}  // namespace varnel
