// AVX2 kernels of hue and saturation and of sharpness: sixteen pixels (hue
// and saturation) or sixteen samples (sharpness) per step in 16-bit lanes,
// giving the scalar kernels' results bit for bit (tone_vector.h).
#include "imaging/tone_kernels.h"

#include <algorithm>

#if defined(__AVX2__)
#include <immintrin.h>

#include "imaging/tone_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

struct Avx2Tone : RegisterMasks<Avx2Tone> {
  using Vec = __m256i;
  using Mask = __m256i;
  static constexpr int kLanes = 16;
  static Vec Set1(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm256_min_epi16(a, b); }
  static Vec MinU(Vec a, Vec b) { return _mm256_min_epu16(a, b); }
  static Vec CmpEq(Vec a, Vec b) { return _mm256_cmpeq_epi16(a, b); }
  static Vec CmpGt(Vec a, Vec b) { return _mm256_cmpgt_epi16(a, b); }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
  static Vec Srli(Vec v, int n) { return _mm256_srli_epi16(v, n); }
  static Vec Slli(Vec v, int n) { return _mm256_slli_epi16(v, n); }
  static Vec Srl(Vec v, int n) { return _mm256_srl_epi16(v, _mm_cvtsi32_si128(n)); }
  static Vec MulLo(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
  static Vec MulHiU(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
  static Vec Abs(Vec v) { return _mm256_abs_epi16(v); }
  static Vec Sign(Vec v, Vec ref) { return _mm256_sign_epi16(v, ref); }
  static Vec Blend(Vec mask, Vec a, Vec b) { return _mm256_blendv_epi8(b, a, mask); }
  static Vec LoadU16(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void StoreU16(uint16_t* p, Vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static Vec FourthOfFour() {
    return _mm256_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1);
  }
  // Floating-point division is exact here: the dividends (at most 255 x 255)
  // and divisors are whole numbers far inside the single-precision mantissa,
  // the quotient is correctly rounded, and a quotient that is not a whole
  // number lies at least 1/255 from the next one, far more than the rounding.
  static void Quotients(Vec dPos, Vec den, Vec absNum, Vec& s, Vec& q) {
    const __m256i z = _mm256_setzero_si256();
    auto lo = [&](Vec v) { return _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(v, z)); };
    auto hi = [&](Vec v) { return _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(v, z)); };
    const __m256 dLo = lo(dPos), dHi = hi(dPos);
    const __m256 c255 = _mm256_set1_ps(255.0f), c64 = _mm256_set1_ps(64.0f);
    const __m256i sLo = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(dLo, c255), lo(den)));
    const __m256i sHi = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(dHi, c255), hi(den)));
    const __m256i qLo = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(lo(absNum), c64), dLo));
    const __m256i qHi = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(hi(absNum), c64), dHi));
    s = _mm256_packs_epi32(sLo, sHi);
    q = _mm256_packs_epi32(qLo, qHi);
  }
};

inline __m256i LoadTwo(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}
inline void Store16(uint8_t* d, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v); }
// The low 12 bytes of v at d, exactly.
inline void Store12(uint8_t* d, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
  const int last4 = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
  std::memcpy(d + 8, &last4, 4);
}

// 24-bit pixels: the low half of each register holds pixels 0..7, the high
// half pixels 8..15. The loads reach 4 bytes past the step's 48.
struct Px24 {
  static constexpr int kBytes = 3;
  static constexpr int kOverread = 2;
  struct Extra {};
  static void Load(const uint8_t* s, __m256i& b, __m256i& g, __m256i& r, Extra&) {
    const __m256i planes = _mm256_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1, 0,
                                            3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1);
    const __m256i a = _mm256_shuffle_epi8(LoadTwo(s, s + 24), planes);       // pixels 0-3 | 8-11
    const __m256i c = _mm256_shuffle_epi8(LoadTwo(s + 12, s + 36), planes);  // 4-7 | 12-15
    const __m256i z = _mm256_setzero_si256();
    const __m256i bg = _mm256_unpacklo_epi32(a, c), rr = _mm256_unpackhi_epi32(a, c);
    b = _mm256_unpacklo_epi8(bg, z);
    g = _mm256_unpackhi_epi8(bg, z);
    r = _mm256_unpacklo_epi8(rr, z);
  }
  static void Store(uint8_t* d, __m256i b, __m256i g, __m256i r, const Extra&) {
    const __m256i bg = _mm256_packus_epi16(b, g), rr = _mm256_packus_epi16(r, r);
    const __m256i u = _mm256_unpacklo_epi32(bg, rr), v = _mm256_unpackhi_epi32(bg, rr);
    const __m256i pixels = _mm256_setr_epi8(0, 8, 4, 1, 9, 5, 2, 10, 6, 3, 11, 7, -1, -1, -1, -1, 0,
                                            8, 4, 1, 9, 5, 2, 10, 6, 3, 11, 7, -1, -1, -1, -1);
    const __m256i w0 = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(u, v), pixels);  // 0-3 | 8-11
    const __m256i w1 = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(u, v), pixels);  // 4-7 | 12-15
    // Each 16-byte store spills 4 bytes onto the next group, written next.
    Store16(d, _mm256_castsi256_si128(w0));
    Store16(d + 12, _mm256_castsi256_si128(w1));
    Store16(d + 24, _mm256_extracti128_si256(w0, 1));
    Store12(d + 36, _mm256_extracti128_si256(w1, 1));
  }
};

// 32-bit pixels: the fourth bytes travel in Extra and are stored back.
struct Px32 {
  static constexpr int kBytes = 4;
  static constexpr int kOverread = 0;
  struct Extra {
    __m256i rx;
  };
  static __m256i Transpose() {
    return _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5,
                            9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  }
  static void Load(const uint8_t* s, __m256i& b, __m256i& g, __m256i& r, Extra& extra) {
    const __m256i a =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)), Transpose());
    const __m256i c = _mm256_shuffle_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32)), Transpose());
    const __m256i z = _mm256_setzero_si256();
    const __m256i bg = _mm256_unpacklo_epi32(a, c);
    extra.rx = _mm256_unpackhi_epi32(a, c);
    b = _mm256_unpacklo_epi8(bg, z);
    g = _mm256_unpackhi_epi8(bg, z);
    r = _mm256_unpacklo_epi8(extra.rx, z);
  }
  static void Store(uint8_t* d, __m256i b, __m256i g, __m256i r, const Extra& extra) {
    const __m256i bg = _mm256_packus_epi16(b, g);
    const __m256i rx = _mm256_blend_epi32(_mm256_packus_epi16(r, r), extra.rx, 0xCC);
    const __m256i e = _mm256_unpacklo_epi32(bg, rx), f = _mm256_unpackhi_epi32(bg, rx);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                        _mm256_shuffle_epi8(_mm256_unpacklo_epi32(e, f), Transpose()));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32),
                        _mm256_shuffle_epi8(_mm256_unpackhi_epi32(e, f), Transpose()));
  }
};

// 16-bit samples, read as the top 8 of 10 bits and written back times 4.
inline __m256i Narrow10(__m256i v) {
  return _mm256_srli_epi16(_mm256_min_epu16(v, _mm256_set1_epi16(1023)), 2);
}

// 48-bit pixels: the low half of each register holds pixels 0..7, the high
// half 8..15; each 16-byte load carries two pixels and reaches 4 bytes on.
struct Px48 {
  static constexpr int kBytes = 6;
  static constexpr int kOverread = 1;
  struct Extra {};
  static void Load(const uint8_t* s, __m256i& b, __m256i& g, __m256i& r, Extra&) {
    const __m256i pairs = _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0,
                                           1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    __m256i p[4];
    for (int i = 0; i < 4; ++i)
      p[i] = _mm256_shuffle_epi8(LoadTwo(s + 12 * i, s + 48 + 12 * i), pairs);
    const __m256i t0 = _mm256_unpacklo_epi32(p[0], p[1]), t1 = _mm256_unpackhi_epi32(p[0], p[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(p[2], p[3]), t3 = _mm256_unpackhi_epi32(p[2], p[3]);
    b = Narrow10(_mm256_unpacklo_epi64(t0, t2));
    g = Narrow10(_mm256_unpackhi_epi64(t0, t2));
    r = Narrow10(_mm256_unpacklo_epi64(t1, t3));
  }
  static void Store(uint8_t* d, __m256i b, __m256i g, __m256i r, const Extra&) {
    b = _mm256_slli_epi16(b, 2);
    g = _mm256_slli_epi16(g, 2);
    r = _mm256_slli_epi16(r, 2);
    const __m256i e0 = _mm256_unpacklo_epi32(b, g), e1 = _mm256_unpackhi_epi32(b, g);
    const __m256i f0 = _mm256_unpacklo_epi32(r, r), f1 = _mm256_unpackhi_epi32(r, r);
    const __m256i pixels = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 2, 3, 6, 7, 10, 11, -1, -1, -1, -1, 0,
                                            1, 4, 5, 8, 9, 2, 3, 6, 7, 10, 11, -1, -1, -1, -1);
    const __m256i w[4] = {_mm256_shuffle_epi8(_mm256_unpacklo_epi64(e0, f0), pixels),
                          _mm256_shuffle_epi8(_mm256_unpackhi_epi64(e0, f0), pixels),
                          _mm256_shuffle_epi8(_mm256_unpacklo_epi64(e1, f1), pixels),
                          _mm256_shuffle_epi8(_mm256_unpackhi_epi64(e1, f1), pixels)};
    for (int i = 0; i < 4; ++i) Store16(d + 12 * i, _mm256_castsi256_si128(w[i]));
    for (int i = 0; i < 3; ++i) Store16(d + 48 + 12 * i, _mm256_extracti128_si256(w[i], 1));
    Store12(d + 84, _mm256_extracti128_si256(w[3], 1));
  }
};

// 64-bit pixels: the fourth samples travel in Extra.
struct Px64 {
  static constexpr int kBytes = 8;
  static constexpr int kOverread = 0;
  struct Extra {
    __m256i x;
  };
  static void Load(const uint8_t* s, __m256i& b, __m256i& g, __m256i& r, Extra& extra) {
    const __m256i pairs = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0,
                                           1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    __m256i p[4];
    for (int i = 0; i < 4; ++i)
      p[i] = _mm256_shuffle_epi8(LoadTwo(s + 16 * i, s + 64 + 16 * i), pairs);
    const __m256i t0 = _mm256_unpacklo_epi32(p[0], p[1]), t1 = _mm256_unpackhi_epi32(p[0], p[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(p[2], p[3]), t3 = _mm256_unpackhi_epi32(p[2], p[3]);
    b = Narrow10(_mm256_unpacklo_epi64(t0, t2));
    g = Narrow10(_mm256_unpackhi_epi64(t0, t2));
    r = Narrow10(_mm256_unpacklo_epi64(t1, t3));
    extra.x = _mm256_unpackhi_epi64(t1, t3);
  }
  static void Store(uint8_t* d, __m256i b, __m256i g, __m256i r, const Extra& extra) {
    b = _mm256_slli_epi16(b, 2);
    g = _mm256_slli_epi16(g, 2);
    r = _mm256_slli_epi16(r, 2);
    const __m256i e0 = _mm256_unpacklo_epi32(b, g), e1 = _mm256_unpackhi_epi32(b, g);
    const __m256i f0 = _mm256_unpacklo_epi32(r, extra.x), f1 = _mm256_unpackhi_epi32(r, extra.x);
    const __m256i pixels = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0,
                                            1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    const __m256i w0 = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(e0, f0), pixels);
    const __m256i w1 = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(e0, f0), pixels);
    const __m256i w2 = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(e1, f1), pixels);
    const __m256i w3 = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(e1, f1), pixels);
    auto store = [&](int offset, __m256i v) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + offset), v);
    };
    store(0, _mm256_permute2x128_si256(w0, w1, 0x20));
    store(32, _mm256_permute2x128_si256(w2, w3, 0x20));
    store(64, _mm256_permute2x128_si256(w0, w1, 0x31));
    store(96, _mm256_permute2x128_si256(w2, w3, 0x31));
  }
};

struct Sm8 {
  static constexpr bool kWide = false;
  static constexpr int kMax = 255;
  static __m256i LoadClamped(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  static __m256i LoadRaw(const uint8_t* p) { return LoadClamped(p); }
  static void Store(uint8_t* p, __m256i v) {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  }
};

struct Sm16 {
  static constexpr bool kWide = true;
  static constexpr int kMax = 1023;
  static __m256i LoadRaw(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static __m256i LoadClamped(const uint8_t* p) {
    return _mm256_min_epu16(LoadRaw(p), _mm256_set1_epi16(1023));
  }
  static void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
};

// Sixteen 16-bit samples through a 10-bit table.
inline __m256i Map16(__m256i v, const int32_t* table) {
  const __m256i z = _mm256_setzero_si256();
  v = _mm256_min_epu16(v, _mm256_set1_epi16(1023));
  const __m256i lo = _mm256_i32gather_epi32(table, _mm256_unpacklo_epi16(v, z), 4);
  const __m256i hi = _mm256_i32gather_epi32(table, _mm256_unpackhi_epi16(v, z), 4);
  return _mm256_packus_epi32(lo, hi);
}

}  // namespace

void MapSamples16Avx2(uint8_t* dst, const uint8_t* src, int count, const int32_t* table) {
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * i), Map16(v, table));
  }
  for (; i < count; ++i) {
    const int v = std::min(src[2 * i] | src[2 * i + 1] << 8, 1023);
    dst[2 * i] = static_cast<uint8_t>(table[v]);
    dst[2 * i + 1] = static_cast<uint8_t>(table[v] >> 8);
  }
}

void MapPixels64Avx2(uint8_t* dst, const uint8_t* src, int n, const int32_t* table) {
  const __m256i fourth = _mm256_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1);
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8 * x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * x),
                        _mm256_blendv_epi8(Map16(v, table), v, fourth));
  }
  for (; x < n; ++x) {
    for (int c = 0; c < 4; ++c) {
      const uint8_t* s = src + 8 * x + 2 * c;
      const int v = c == 3 ? (s[0] | s[1] << 8) : table[std::min(s[0] | s[1] << 8, 1023)];
      dst[8 * x + 2 * c] = static_cast<uint8_t>(v);
      dst[8 * x + 2 * c + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
}

void HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust) {
  HueSaturationRowByFormat<Avx2Tone, Px24, Px32, Px48, Px64>(dst, src, n, bytesPerPixel, adjust);
}

void SharpenRowAvx2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t* scratch) {
  SharpenRowByFormat<Avx2Tone, Sm8, Sm16>(dst, rows, n, bytesPerPixel, sharpen, post, scratch);
}

#else

void MapSamples16Avx2(uint8_t* dst, const uint8_t* src, int count, const int32_t* table) {
  for (int i = 0; i < count; ++i) {
    const int v = std::min(src[2 * i] | src[2 * i + 1] << 8, 1023);
    dst[2 * i] = static_cast<uint8_t>(table[v]);
    dst[2 * i + 1] = static_cast<uint8_t>(table[v] >> 8);
  }
}
void MapPixels64Avx2(uint8_t* dst, const uint8_t* src, int n, const int32_t* table) {
  for (int x = 0; x < n; ++x) {
    MapSamples16Avx2(dst + 8 * x, src + 8 * x, 3, table);
    dst[8 * x + 6] = src[8 * x + 6];
    dst[8 * x + 7] = src[8 * x + 7];
  }
}

void HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust) {
  HueSaturationRowSse2(dst, src, n, bytesPerPixel, adjust);
}
void SharpenRowAvx2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t* scratch) {
  SharpenRowSse2(dst, rows, n, bytesPerPixel, sharpen, post, scratch);
}

#endif

}  // namespace varnel
