// AVX2 demosaic interior: 32 output pixels per step, computing exactly what
// the SSE2 forms compute (the same step, from demosaic_vector.h), only twice
// as wide. Each 128-bit half of a register holds the same sixteen pixels the
// SSE2 form holds in one register: the low half the first sixteen of the
// step, the high half the next sixteen.
#include "imaging/demosaic.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>

#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

struct Avx2Samples8 {
  using Vec = __m256i;
  static constexpr int kStep = 32;
  static constexpr int kSampleBytes = 1;
  // Two output rows per pass: with four the wider step spills more than the
  // shared rows save (measured).
  static constexpr int kPairs = 1;

  static Vec Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static Vec Even(Vec v) { return _mm256_and_si256(v, _mm256_set1_epi16(0x00FF)); }
  static Vec Odd(Vec v) { return _mm256_srli_epi16(v, 8); }
  static Vec Add(Vec a, Vec b) { return _mm256_adds_epu16(a, b); }
  static Vec Half(Vec v) { return _mm256_srli_epi16(v, 1); }
  static Vec Shl(Vec v, int n) { return _mm256_slli_epi16(v, n); }

  // Even and odd B, G, R -> 32 pixels of 24 bits at d. Each 16-byte store
  // carries four pixels and spills 4 bytes onto the next pixels, written
  // afterwards; with kExact the last four pixels are written as exactly 12
  // bytes.
  template <bool kExact>
  static void StoreBgr24(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
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

  // The same as 32 pixels of 32 bits whose fourth byte keeps what it held.
  static void StoreBgrx32(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    const __m256i z = _mm256_setzero_si256();
    auto natural = [](__m256i even, __m256i odd) {
      const __m256i packed = _mm256_packus_epi16(even, odd);
      return _mm256_unpacklo_epi8(packed, _mm256_srli_si256(packed, 8));
    };
    const __m256i b = natural(be, bo), g = natural(ge, go), r = natural(re, ro);
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);
    const __m256i rLo = _mm256_unpacklo_epi8(r, z), rHi = _mm256_unpackhi_epi8(r, z);
    // Pixels 0..3, 4..7, 8..11, 12..15 of each half.
    const __m256i p0 = _mm256_unpacklo_epi16(bgLo, rLo), p1 = _mm256_unpackhi_epi16(bgLo, rLo);
    const __m256i p2 = _mm256_unpacklo_epi16(bgHi, rHi), p3 = _mm256_unpackhi_epi16(bgHi, rHi);
    const __m256i px[4] = {
        _mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p3, 0x20),
        _mm256_permute2x128_si256(p0, p1, 0x31), _mm256_permute2x128_si256(p2, p3, 0x31)};
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    for (int i = 0; i < 4; ++i) {
      __m256i* p = reinterpret_cast<__m256i*>(d + 32 * i);
      _mm256_storeu_si256(p, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(p), keep), px[i]));
    }
  }
};

// The vector rounding, as in the SSE2 form.
struct Avx2Lanes : Avx2Samples8 {
  static constexpr int kPixelBytes = 3;
  // A step reads up to column x + 33 and its store spills onto pixels x + 32
  // and x + 33; one more column is kept free.
  static constexpr int kMargin = 2;
  static Vec GainVector(uint32_t k) { return _mm256_set1_epi16(static_cast<short>(k << 5)); }
  // As in the SSE2 form: the high half of (16 (sum >> 4)) * (32 k).
  static Vec Gain(Vec sum, Vec k32) {
    return _mm256_mulhi_epu16(_mm256_and_si256(sum, _mm256_set1_epi16(static_cast<short>(0xFFF0))),
                              k32);
  }
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    StoreBgr24<kExact>(d, be, bo, ge, go, re, ro);
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowVectorRounding(v, g, row, from, to);
  }
};

// The scalar formula, as in the SSE2 form.
template <int kBytesPerPixel>
struct Avx2ScalarLanes : Avx2Samples8 {
  static constexpr int kPixelBytes = kBytesPerPixel;
  static constexpr int kMargin = kBytesPerPixel == 3 ? 2 : 0;
  static Vec GainVector(uint32_t k) { return _mm256_set1_epi16(static_cast<short>(2 * k)); }
  static Vec Gain(Vec sum, Vec k2) { return _mm256_mulhi_epu16(_mm256_slli_epi16(sum, 4), k2); }
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

bool DemosaicAvx2Built() { return true; }

int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) {
    return DemosaicInteriorScalarAvx2(v, g, rows);
  }
  return DemosaicInteriorLanes<Avx2Lanes>(v, g, rows);
}

int DemosaicInteriorScalarAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!ScalarVectorDemosaicAllowed(g, v.srcBpp, v.dstBpp)) {
    return DemosaicInteriorScalar(v, g, rows);
  }
  return v.dstBpp == 3 ? DemosaicInteriorLanes<Avx2ScalarLanes<3>>(v, g, rows)
                       : DemosaicInteriorLanes<Avx2ScalarLanes<4>>(v, g, rows);
}

#else

bool DemosaicAvx2Built() { return false; }
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorSse2(v, g, rows);
}
int DemosaicInteriorScalarAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalarSse2(v, g, rows);
}

#endif

}  // namespace varnel
