// AVX2 demosaic of 16-bit raw samples to 48- or 64-bit pixels: the SSE2 deep
// form twice as wide, 16 output pixels per step. Each 128-bit half of a
// register holds the pixels the SSE2 form holds in one register: the low half
// the first eight of the step, the high half the next eight.
#include "imaging/demosaic.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>

#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

template <int kBits, int kBytesPerPixel>
struct Avx2DeepLanes {
  using Vec = __m256i;
  static constexpr int kStep = 16;
  static constexpr int kSampleBytes = 2;
  static constexpr int kPixelBytes = kBytesPerPixel;
  // A step reads up to column x + 17; the 48-bit store spills onto pixel x + 16.
  static constexpr int kMargin = kBytesPerPixel == 6 ? 1 : 0;
  static constexpr int kPairs = 1;
  static constexpr int kMax = (1 << kBits) - 1;

  static Vec Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static Vec Even(Vec v) { return _mm256_and_si256(v, _mm256_set1_epi32(0xFFFF)); }
  static Vec Odd(Vec v) { return _mm256_srli_epi32(v, 16); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static Vec Half(Vec v) { return _mm256_srli_epi32(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm256_slli_epi32(v, n); }
  static Vec GainVector(uint32_t k) { return _mm256_set1_epi32(static_cast<int>(k)); }
  static Vec Gain(Vec sum, Vec k) {
    return _mm256_min_epu32(_mm256_srli_epi32(_mm256_mullo_epi32(sum, k), 11),
                            _mm256_set1_epi32(kMax));
  }

  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    if constexpr (kBits < 16) {
      ge = _mm256_min_epu32(ge, _mm256_set1_epi32(kMax));
      go = _mm256_min_epu32(go, _mm256_set1_epi32(kMax));
    }
    const __m256i z = _mm256_setzero_si256();
    const __m256i b = _mm256_or_si256(be, _mm256_slli_epi32(bo, 16));
    const __m256i g = _mm256_or_si256(ge, _mm256_slli_epi32(go, 16));
    const __m256i r = _mm256_or_si256(re, _mm256_slli_epi32(ro, 16));
    const __m256i bgLo = _mm256_unpacklo_epi16(b, g), bgHi = _mm256_unpackhi_epi16(b, g);
    const __m256i rLo = _mm256_unpacklo_epi16(r, z), rHi = _mm256_unpackhi_epi16(r, z);
    // Pixels 0..1, 2..3, 4..5, 6..7 of each half, as B, G, R, 0.
    const __m256i p[4] = {_mm256_unpacklo_epi32(bgLo, rLo), _mm256_unpackhi_epi32(bgLo, rLo),
                          _mm256_unpacklo_epi32(bgHi, rHi), _mm256_unpackhi_epi32(bgHi, rHi)};
    if constexpr (kBytesPerPixel == 8) {
      const __m256i px[4] = {
          _mm256_permute2x128_si256(p[0], p[1], 0x20), _mm256_permute2x128_si256(p[2], p[3], 0x20),
          _mm256_permute2x128_si256(p[0], p[1], 0x31), _mm256_permute2x128_si256(p[2], p[3], 0x31)};
      const __m256i keep = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
      for (int i = 0; i < 4; ++i) {
        __m256i* q = reinterpret_cast<__m256i*>(d + 32 * i);
        _mm256_storeu_si256(q,
                            _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(q), keep), px[i]));
      }
    } else {
      // Drop the fourth sample: two pixels in the low 12 bytes of each half,
      // stored 12 bytes apart, each 16-byte store spilling onto the next.
      const __m256i drop4th =
          _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5,
                           8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
      __m128i pairs[8];
      for (int i = 0; i < 4; ++i) {
        const __m256i s = _mm256_shuffle_epi8(p[i], drop4th);
        pairs[i] = _mm256_castsi256_si128(s);
        pairs[i + 4] = _mm256_extracti128_si256(s, 1);
      }
      for (int i = 0; i < 7; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12 * i), pairs[i]);
      }
      if constexpr (kExact) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 84), pairs[7]);
        const int last4 = _mm_cvtsi128_si32(_mm_srli_si128(pairs[7], 8));
        std::memcpy(d + 92, &last4, 4);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 84), pairs[7]);
      }
    }
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowDeep(v, g, kBits, row, from, to);
  }
};

template <int kBits>
int DeepForBits(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return v.dstBpp == 6 ? DemosaicInteriorLanes<Avx2DeepLanes<kBits, 6>>(v, g, rows)
                       : DemosaicInteriorLanes<Avx2DeepLanes<kBits, 8>>(v, g, rows);
}

}  // namespace

int DemosaicDeepAvx2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!DeepVectorDemosaicAllowed(g, v.srcBpp, v.dstBpp)) {
    return DemosaicDeep(v, g, significantBits, rows);
  }
  switch (significantBits) {
    case 12:
      return DeepForBits<12>(v, g, rows);
    case 14:
      return DeepForBits<14>(v, g, rows);
    case 16:
      return DeepForBits<16>(v, g, rows);
    default:
      return DeepForBits<10>(v, g, rows);
  }
}

#else

int DemosaicDeepAvx2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeepSse2(v, g, significantBits, rows);
}

#endif

}  // namespace varnel
