// SSE2 demosaic of 16-bit raw samples to 48- or 64-bit pixels: the scalar
// formula in 32-bit lanes, 8 output pixels per step (the step itself is in
// demosaic_vector.h). A colour sum is at most 16 x 65535, and with a
// multiplier up to kScalarVectorMaxFactorDeep its product stays below 2^31.
#include "imaging/demosaic.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

// Lanes a and b both below 2^31: a < b per lane, then the smaller one.
inline __m128i Min32(__m128i a, __m128i b) {
  const __m128i aBigger = _mm_cmpgt_epi32(a, b);
  return _mm_or_si128(_mm_and_si128(aBigger, b), _mm_andnot_si128(aBigger, a));
}

template <int kBits, int kBytesPerPixel>
struct Sse2DeepLanes {
  using Vec = __m128i;
  static constexpr int kStep = 8;
  static constexpr int kSampleBytes = 2;
  static constexpr int kPixelBytes = kBytesPerPixel;
  // A step reads up to column x + 9; the 48-bit store spills onto pixel x + 8.
  static constexpr int kMargin = kBytesPerPixel == 6 ? 1 : 0;
  static constexpr int kPairs = 1;
  static constexpr int kMax = (1 << kBits) - 1;

  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static Vec Even(Vec v) { return _mm_and_si128(v, _mm_set1_epi32(0xFFFF)); }
  static Vec Odd(Vec v) { return _mm_srli_epi32(v, 16); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi32(a, b); }
  static Vec Half(Vec v) { return _mm_srli_epi32(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm_slli_epi32(v, n); }
  static Vec GainVector(uint32_t k) { return _mm_set1_epi32(static_cast<int>(k)); }
  // min(N, (sum * k) >> 11). SSE2 multiplies the even 32-bit lanes into 64
  // bits; the odd lanes are moved down for a second multiplication.
  static Vec Gain(Vec sum, Vec k) {
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sum, k), 11);
    const __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(sum, 32), k), 11);
    const __m128i v = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(3, 1, 2, 0)),
                                         _mm_shuffle_epi32(odd, _MM_SHUFFLE(3, 1, 2, 0)));
    return Min32(v, _mm_set1_epi32(kMax));
  }

  // Even and odd B, G, R (32-bit lanes, B and R already limited) -> 8 pixels.
  // Each colour's even and odd values share a 32-bit lane as two 16-bit
  // samples in pixel order; the pixels are built as B, G, R, 0 in 64 bits.
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    if constexpr (kBits < 16) {
      ge = Min32(ge, _mm_set1_epi32(kMax));
      go = Min32(go, _mm_set1_epi32(kMax));
    }
    const __m128i z = _mm_setzero_si128();
    const __m128i b = _mm_or_si128(be, _mm_slli_epi32(bo, 16));
    const __m128i g = _mm_or_si128(ge, _mm_slli_epi32(go, 16));
    const __m128i r = _mm_or_si128(re, _mm_slli_epi32(ro, 16));
    const __m128i bgLo = _mm_unpacklo_epi16(b, g), bgHi = _mm_unpackhi_epi16(b, g);
    const __m128i rLo = _mm_unpacklo_epi16(r, z), rHi = _mm_unpackhi_epi16(r, z);
    const __m128i px[4] = {_mm_unpacklo_epi32(bgLo, rLo), _mm_unpackhi_epi32(bgLo, rLo),
                           _mm_unpacklo_epi32(bgHi, rHi), _mm_unpackhi_epi32(bgHi, rHi)};
    if constexpr (kBytesPerPixel == 8) {
      const __m128i keep =
          _mm_set_epi32(static_cast<int>(0xFFFF0000u), 0, static_cast<int>(0xFFFF0000u), 0);
      for (int i = 0; i < 4; ++i) {
        __m128i* p = reinterpret_cast<__m128i*>(d + 16 * i);
        _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), px[i]));
      }
    } else {
      // Two pixels per register: 8-byte stores 6 bytes apart, each spilling 2
      // bytes onto the next pixel; the very last pixel exactly when kExact.
      for (int i = 0; i < 4; ++i) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12 * i), px[i]);
        if (kExact && i == 3) {
          const __m128i high = _mm_unpackhi_epi64(px[i], px[i]);
          const int first4 = _mm_cvtsi128_si32(high);
          const uint16_t last2 = static_cast<uint16_t>(_mm_extract_epi16(high, 2));
          std::memcpy(d + 12 * i + 6, &first4, 4);
          std::memcpy(d + 12 * i + 10, &last2, 2);
        } else {
          _mm_storeh_pi(reinterpret_cast<__m64*>(d + 12 * i + 6), _mm_castsi128_ps(px[i]));
        }
      }
    }
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowDeep(v, g, kBits, row, from, to);
  }
};

template <int kBits>
int DeepForBits(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return v.dstBpp == 6 ? DemosaicInteriorLanes<Sse2DeepLanes<kBits, 6>>(v, g, rows)
                       : DemosaicInteriorLanes<Sse2DeepLanes<kBits, 8>>(v, g, rows);
}

}  // namespace

int DemosaicDeepSse2(const RegionView& v, const BayerGains& g, int significantBits,
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

int DemosaicDeepSse2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeep(v, g, significantBits, rows);
}

#endif

}  // namespace varnel
