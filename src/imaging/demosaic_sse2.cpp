// SSE2 demosaic interior: 16 output pixels per step, in 128-bit registers of
// eight 16-bit lanes (the step itself is in demosaic_vector.h). Two forms:
// the vector rounding of the 24-bit class, and the scalar formula for 24- and
// 32-bit destinations and any settable gain.
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

// 8-bit samples in 16-bit lanes: the operations both forms share.
struct Sse2Samples8 {
  using Vec = __m128i;
  static constexpr int kStep = 16;
  static constexpr int kSampleBytes = 1;
  // Four output rows per pass: fewer mosaic rows' terms are formed twice,
  // which measured slightly faster than two rows despite some spills.
  static constexpr int kPairs = 2;

  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static Vec Even(Vec v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
  static Vec Odd(Vec v) { return _mm_srli_epi16(v, 8); }
  static Vec Add(Vec a, Vec b) { return _mm_adds_epu16(a, b); }
  static Vec Half(Vec v) { return _mm_srli_epi16(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm_slli_epi16(v, n); }

  // Even and odd B, G, R (16-bit lanes, saturated to 255 by the packs) -> 16
  // pixels of 24 bits at d. A pixel pair (even, odd) is the three 16-bit
  // words (B G), (R B'), (G' R'), which are interleaved into the 64-bit lanes
  // of four registers, two pairs each.
  template <bool kExact>
  static void StoreBgr24(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
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

  // The same as 16 pixels of 32 bits whose fourth byte keeps what it held.
  static void StoreBgrx32(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    const __m128i z = _mm_setzero_si128();
    auto natural = [](__m128i even, __m128i odd) {
      const __m128i packed = _mm_packus_epi16(even, odd);
      return _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8));
    };
    const __m128i b = natural(be, bo), g = natural(ge, go), r = natural(re, ro);
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i rLo = _mm_unpacklo_epi8(r, z), rHi = _mm_unpackhi_epi8(r, z);
    const __m128i px[4] = {_mm_unpacklo_epi16(bgLo, rLo), _mm_unpackhi_epi16(bgLo, rLo),
                           _mm_unpacklo_epi16(bgHi, rHi), _mm_unpackhi_epi16(bgHi, rHi)};
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (int i = 0; i < 4; ++i) {
      __m128i* p = reinterpret_cast<__m128i*>(d + 16 * i);
      _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), px[i]));
    }
  }
};

// The vector rounding: min(255, ((sum >> 4) * k) >> 7), 24-bit destination.
struct Sse2Lanes : Sse2Samples8 {
  static constexpr int kPixelBytes = 3;
  // A step reads up to column x + 17 and its store spills onto pixel x + 16.
  static constexpr int kMargin = 1;
  // The lanes take the multipliers times 32 (see Gain); the form runs only for
  // gains up to 200, whose multipliers (at most 256) keep k << 5 in a lane.
  static Vec GainVector(uint32_t k) { return _mm_set1_epi16(static_cast<short>(k << 5)); }
  // ((sum >> 4) * k) >> 7, at most 510; the store limits it to 255. With the
  // low four bits cleared the sum is 16 (sum >> 4), and the high half of its
  // product with 32 k is (16 (sum >> 4) * 32 k) >> 16, the same value in one
  // multiplication and no shifts.
  static Vec Gain(Vec sum, Vec k32) {
    return _mm_mulhi_epu16(_mm_and_si128(sum, _mm_set1_epi16(static_cast<short>(0xFFF0))), k32);
  }
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    StoreBgr24<kExact>(d, be, bo, ge, go, re, ro);
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowVectorRounding(v, g, row, from, to);
  }
};

// The scalar formula: min(255, (sum * k) >> 11) is the high half of
// (16 sum) * (2 k): the sum is at most 4080, so 16 sum fits a lane, and 2 k
// does for every multiplier up to kScalarVectorMaxFactor8.
template <int kBytesPerPixel>
struct Sse2ScalarLanes : Sse2Samples8 {
  static constexpr int kPixelBytes = kBytesPerPixel;
  static constexpr int kMargin = kBytesPerPixel == 3 ? 1 : 0;
  static Vec GainVector(uint32_t k) { return _mm_set1_epi16(static_cast<short>(2 * k)); }
  static Vec Gain(Vec sum, Vec k2) { return _mm_mulhi_epu16(_mm_slli_epi16(sum, 4), k2); }
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    if constexpr (kBytesPerPixel == 3) {
      StoreBgr24<kExact>(d, be, bo, ge, go, re, ro);
    } else {
      StoreBgrx32(d, be, bo, ge, go, re, ro);
    }
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowScalar(v, g, row, from, to);
  }
};

}  // namespace

bool HaveDemosaicSse2() { return true; }

int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  // Where the vector rounding may not run the scalar formula does; this form
  // computes it too, faster.
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) {
    return DemosaicInteriorScalarSse2(v, g, rows);
  }
  return DemosaicInteriorLanes<Sse2Lanes>(v, g, rows);
}

int DemosaicInteriorScalarSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!ScalarVectorDemosaicAllowed(g, v.srcBpp, v.dstBpp)) {
    return DemosaicInteriorScalar(v, g, rows);
  }
  return v.dstBpp == 3 ? DemosaicInteriorLanes<Sse2ScalarLanes<3>>(v, g, rows)
                       : DemosaicInteriorLanes<Sse2ScalarLanes<4>>(v, g, rows);
}

#else

bool HaveDemosaicSse2() { return false; }
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalar(v, g, rows);
}
int DemosaicInteriorScalarSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalar(v, g, rows);
}

#endif

}  // namespace varnel
