// AVX2 demosaic interior: 32 output pixels per step, computing exactly what
// the SSE2 form computes (the same step, from demosaic_vector.h), only twice as
// wide. Each 128-bit half of a register holds the same sixteen pixels the SSE2
// form holds in one register: the low half the first sixteen of the step, the
// high half the next sixteen.
#include "imaging/demosaic.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>

#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

struct Avx2Lanes {
  using Vec = __m256i;
  static constexpr int kStep = 32;
  // A step reads up to column x + 33 and its store spills onto pixels x + 32
  // and x + 33; one more column is kept free.
  static constexpr int kMargin = 2;

  // Two output rows per pass: with four the wider step spills more than the
  // shared rows save (measured).
  static constexpr int kPairs = 1;

  static Vec Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static Vec Splat(short k) { return _mm256_set1_epi16(k); }
  static Vec Even(Vec v) { return _mm256_and_si256(v, _mm256_set1_epi16(0x00FF)); }
  static Vec Odd(Vec v) { return _mm256_srli_epi16(v, 8); }
  static Vec Add(Vec a, Vec b) { return _mm256_adds_epu16(a, b); }
  static Vec Half(Vec v) { return _mm256_srli_epi16(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm256_slli_epi16(v, n); }
  // As in the SSE2 form: the high half of (16 (sum >> 4)) * (32 k).
  static Vec Gain(Vec sum, Vec k32) {
    return _mm256_mulhi_epu16(_mm256_and_si256(sum, _mm256_set1_epi16(static_cast<short>(0xFFF0))),
                              k32);
  }
  // Even and odd B, G, R -> 32 pixels at d. Each 16-byte store carries four
  // pixels and spills 4 bytes onto the next pixels, written afterwards; with
  // kExact the last four pixels are written as exactly 12 bytes.
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    const __m256i z = _mm256_setzero_si256();
    const __m256i b = _mm256_packus_epi16(be, bo), g = _mm256_packus_epi16(ge, go);
    const __m256i r = _mm256_packus_epi16(re, ro);
    const __m256i bgEven = _mm256_unpacklo_epi8(b, g), bgOdd = _mm256_unpackhi_epi8(b, g);
    const __m256i rEven = _mm256_unpacklo_epi8(r, z), rOdd = _mm256_unpackhi_epi8(r, z);
    const __m256i evenLo = _mm256_unpacklo_epi16(bgEven, rEven);
    const __m256i evenHi = _mm256_unpackhi_epi16(bgEven, rEven);
    const __m256i oddLo = _mm256_unpacklo_epi16(bgOdd, rOdd);
    const __m256i oddHi = _mm256_unpackhi_epi16(bgOdd, rOdd);
    const __m256i drop4th =
        _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                         8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i q[4] = {_mm256_shuffle_epi8(_mm256_unpacklo_epi32(evenLo, oddLo), drop4th),
                          _mm256_shuffle_epi8(_mm256_unpackhi_epi32(evenLo, oddLo), drop4th),
                          _mm256_shuffle_epi8(_mm256_unpacklo_epi32(evenHi, oddHi), drop4th),
                          _mm256_shuffle_epi8(_mm256_unpackhi_epi32(evenHi, oddHi), drop4th)};
    for (int i = 0; i < 4; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12 * i), _mm256_castsi256_si128(q[i]));
    }
    for (int i = 0; i < 3; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48 + 12 * i),
                       _mm256_extracti128_si256(q[i], 1));
    }
    const __m128i lastFour = _mm256_extracti128_si256(q[3], 1);
    if constexpr (kExact) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 84), lastFour);
      const int last4 = _mm_cvtsi128_si32(_mm_srli_si128(lastFour, 8));
      std::memcpy(d + 92, &last4, 4);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 84), lastFour);
    }
  }
};

}  // namespace

bool DemosaicAvx2Built() { return true; }

int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorLanes<Avx2Lanes>(v, g);
}

#else

bool DemosaicAvx2Built() { return false; }
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorSse2(v, g);
}

#endif

}  // namespace varnel
