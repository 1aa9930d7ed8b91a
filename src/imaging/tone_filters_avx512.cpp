// AVX-512 kernels of hue and saturation and of sharpness: thirty-two pixels
// (hue and saturation) or thirty-two samples (sharpness) per step in 16-bit
// lanes, giving the scalar kernels' results bit for bit (tone_vector.h). The
// comparisons give mask registers, so a selection is one instruction, and
// the thirty-two registers hold the whole step without spilling.
#include "imaging/tone_kernels.h"

#include <algorithm>

#include "imaging/cpu_features.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include "imaging/tone_avx512.h"
#endif

namespace varnel {

#if defined(__AVX512F__) && defined(__AVX512BW__)
namespace {

// Four 16-byte loads into the four quarters of a register.
inline __m512i LoadFour(const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                        const uint8_t* p3) {
  __m512i v = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p0)));
  v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1)), 1);
  v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2)), 2);
  return _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p3)), 3);
}
inline __m512i Quarters(__m128i pattern) { return _mm512_broadcast_i32x4(pattern); }
template <int kQuarter>
inline void Store16(uint8_t* d, __m512i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm512_extracti32x4_epi32(v, kQuarter));
}
// The low 12 bytes of quarter kQuarter of v at d, exactly.
template <int kQuarter>
inline void Store12(uint8_t* d, __m512i v) {
  _mm_mask_storeu_epi8(d, 0x0FFF, _mm512_extracti32x4_epi32(v, kQuarter));
}

// 24-bit pixels: quarter k of each register holds pixels 8k..8k+7. The loads
// reach 4 bytes past the step's 96.
struct Px24 {
  static constexpr int kBytes = 3;
  static constexpr int kOverread = 2;
  struct Extra {};
  static void Load(const uint8_t* s, __m512i& b, __m512i& g, __m512i& r, Extra&) {
    const __m512i planes =
        Quarters(_mm_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1));
    const __m512i a = _mm512_shuffle_epi8(LoadFour(s, s + 24, s + 48, s + 72), planes);
    const __m512i c = _mm512_shuffle_epi8(LoadFour(s + 12, s + 36, s + 60, s + 84), planes);
    const __m512i z = _mm512_setzero_si512();
    const __m512i bg = _mm512_unpacklo_epi32(a, c), rr = _mm512_unpackhi_epi32(a, c);
    b = _mm512_unpacklo_epi8(bg, z);
    g = _mm512_unpackhi_epi8(bg, z);
    r = _mm512_unpacklo_epi8(rr, z);
  }
  static void Store(uint8_t* d, __m512i b, __m512i g, __m512i r, const Extra&) {
    const __m512i bg = _mm512_packus_epi16(b, g), rr = _mm512_packus_epi16(r, r);
    const __m512i u = _mm512_unpacklo_epi32(bg, rr), v = _mm512_unpackhi_epi32(bg, rr);
    const __m512i pixels =
        Quarters(_mm_setr_epi8(0, 8, 4, 1, 9, 5, 2, 10, 6, 3, 11, 7, -1, -1, -1, -1));
    const __m512i w0 = _mm512_shuffle_epi8(_mm512_unpacklo_epi64(u, v), pixels);  // 8k..8k+3
    const __m512i w1 = _mm512_shuffle_epi8(_mm512_unpackhi_epi64(u, v), pixels);  // 8k+4..8k+7
    // Each 16-byte store spills 4 bytes onto the next group, written next.
    Store16<0>(d, w0);
    Store16<0>(d + 12, w1);
    Store16<1>(d + 24, w0);
    Store16<1>(d + 36, w1);
    Store16<2>(d + 48, w0);
    Store16<2>(d + 60, w1);
    Store16<3>(d + 72, w0);
    Store12<3>(d + 84, w1);
  }
};

// 32-bit pixels: the fourth bytes travel in Extra and are stored back.
struct Px32 {
  static constexpr int kBytes = 4;
  static constexpr int kOverread = 0;
  struct Extra {
    __m512i rx;
  };
  static __m512i Transpose() {
    return Quarters(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
  }
  static void Load(const uint8_t* s, __m512i& b, __m512i& g, __m512i& r, Extra& extra) {
    const __m512i a = _mm512_shuffle_epi8(_mm512_loadu_si512(s), Transpose());
    const __m512i c = _mm512_shuffle_epi8(_mm512_loadu_si512(s + 64), Transpose());
    const __m512i z = _mm512_setzero_si512();
    const __m512i bg = _mm512_unpacklo_epi32(a, c);
    extra.rx = _mm512_unpackhi_epi32(a, c);
    b = _mm512_unpacklo_epi8(bg, z);
    g = _mm512_unpackhi_epi8(bg, z);
    r = _mm512_unpacklo_epi8(extra.rx, z);
  }
  static void Store(uint8_t* d, __m512i b, __m512i g, __m512i r, const Extra& extra) {
    const __m512i bg = _mm512_packus_epi16(b, g);
    const __m512i rx = _mm512_mask_blend_epi32(0xCCCC, _mm512_packus_epi16(r, r), extra.rx);
    const __m512i e = _mm512_unpacklo_epi32(bg, rx), f = _mm512_unpackhi_epi32(bg, rx);
    _mm512_storeu_si512(d, _mm512_shuffle_epi8(_mm512_unpacklo_epi32(e, f), Transpose()));
    _mm512_storeu_si512(d + 64, _mm512_shuffle_epi8(_mm512_unpackhi_epi32(e, f), Transpose()));
  }
};

// 16-bit samples, read as the top 8 of 10 bits and written back times 4.
inline __m512i Narrow10(__m512i v) {
  return _mm512_srli_epi16(_mm512_min_epu16(v, _mm512_set1_epi16(1023)), 2);
}

// The four registers of a 48- or 64-bit step, loaded 16 bytes at a time
// (kGroup bytes apart within a quarter, kQuarter bytes between quarters) and
// gathered into planes of b, g, r and the fourth samples.
template <int kGroup, int kQuarter>
inline void LoadWide(const uint8_t* s, __m128i pairPattern, __m512i& t0, __m512i& t1, __m512i& t2,
                     __m512i& t3) {
  const __m512i pairs = Quarters(pairPattern);
  __m512i p[4];
  for (int i = 0; i < 4; ++i) {
    const uint8_t* at = s + kGroup * i;
    p[i] = _mm512_shuffle_epi8(LoadFour(at, at + kQuarter, at + 2 * kQuarter, at + 3 * kQuarter),
                               pairs);
  }
  t0 = _mm512_unpacklo_epi32(p[0], p[1]);
  t1 = _mm512_unpackhi_epi32(p[0], p[1]);
  t2 = _mm512_unpacklo_epi32(p[2], p[3]);
  t3 = _mm512_unpackhi_epi32(p[2], p[3]);
}

// 48-bit pixels: quarter k of each register holds pixels 8k..8k+7; each
// 16-byte load carries two pixels and reaches 4 bytes on.
struct Px48 {
  static constexpr int kBytes = 6;
  static constexpr int kOverread = 1;
  struct Extra {};
  static void Load(const uint8_t* s, __m512i& b, __m512i& g, __m512i& r, Extra&) {
    __m512i t0, t1, t2, t3;
    LoadWide<12, 48>(s, _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1), t0, t1,
                     t2, t3);
    b = Narrow10(_mm512_unpacklo_epi64(t0, t2));
    g = Narrow10(_mm512_unpackhi_epi64(t0, t2));
    r = Narrow10(_mm512_unpacklo_epi64(t1, t3));
  }
  template <int kQuarter>
  static void StoreQuarter(uint8_t* d, const __m512i w[4]) {
    Store16<kQuarter>(d, w[0]);
    Store16<kQuarter>(d + 12, w[1]);
    Store16<kQuarter>(d + 24, w[2]);
    if constexpr (kQuarter == 3) {
      Store12<kQuarter>(d + 36, w[3]);
    } else {
      Store16<kQuarter>(d + 36, w[3]);
    }
  }
  static void Store(uint8_t* d, __m512i b, __m512i g, __m512i r, const Extra&) {
    b = _mm512_slli_epi16(b, 2);
    g = _mm512_slli_epi16(g, 2);
    r = _mm512_slli_epi16(r, 2);
    const __m512i e0 = _mm512_unpacklo_epi32(b, g), e1 = _mm512_unpackhi_epi32(b, g);
    const __m512i f0 = _mm512_unpacklo_epi32(r, r), f1 = _mm512_unpackhi_epi32(r, r);
    const __m512i pixels =
        Quarters(_mm_setr_epi8(0, 1, 4, 5, 8, 9, 2, 3, 6, 7, 10, 11, -1, -1, -1, -1));
    const __m512i w[4] = {_mm512_shuffle_epi8(_mm512_unpacklo_epi64(e0, f0), pixels),
                          _mm512_shuffle_epi8(_mm512_unpackhi_epi64(e0, f0), pixels),
                          _mm512_shuffle_epi8(_mm512_unpacklo_epi64(e1, f1), pixels),
                          _mm512_shuffle_epi8(_mm512_unpackhi_epi64(e1, f1), pixels)};
    // In address order: each 16-byte store spills onto the next pixels,
    // written next.
    StoreQuarter<0>(d, w);
    StoreQuarter<1>(d + 48, w);
    StoreQuarter<2>(d + 96, w);
    StoreQuarter<3>(d + 144, w);
  }
};

// 64-bit pixels: the fourth samples travel in Extra.
struct Px64 {
  static constexpr int kBytes = 8;
  static constexpr int kOverread = 0;
  struct Extra {
    __m512i x;
  };
  static void Load(const uint8_t* s, __m512i& b, __m512i& g, __m512i& r, Extra& extra) {
    __m512i t0, t1, t2, t3;
    LoadWide<16, 64>(s, _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15), t0, t1,
                     t2, t3);
    b = Narrow10(_mm512_unpacklo_epi64(t0, t2));
    g = Narrow10(_mm512_unpackhi_epi64(t0, t2));
    r = Narrow10(_mm512_unpacklo_epi64(t1, t3));
    extra.x = _mm512_unpackhi_epi64(t1, t3);
  }
  static void Store(uint8_t* d, __m512i b, __m512i g, __m512i r, const Extra& extra) {
    b = _mm512_slli_epi16(b, 2);
    g = _mm512_slli_epi16(g, 2);
    r = _mm512_slli_epi16(r, 2);
    const __m512i e0 = _mm512_unpacklo_epi32(b, g), e1 = _mm512_unpackhi_epi32(b, g);
    const __m512i f0 = _mm512_unpacklo_epi32(r, extra.x), f1 = _mm512_unpackhi_epi32(r, extra.x);
    const __m512i pixels =
        Quarters(_mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15));
    // Quarter k of w[i] holds the pixels 8k + 2i, 8k + 2i + 1.
    const __m512i w0 = _mm512_shuffle_epi8(_mm512_unpacklo_epi64(e0, f0), pixels);
    const __m512i w1 = _mm512_shuffle_epi8(_mm512_unpackhi_epi64(e0, f0), pixels);
    const __m512i w2 = _mm512_shuffle_epi8(_mm512_unpacklo_epi64(e1, f1), pixels);
    const __m512i w3 = _mm512_shuffle_epi8(_mm512_unpackhi_epi64(e1, f1), pixels);
    // Transpose the 4 x 4 quarters so that register k holds pixels 8k..8k+7.
    const __m512i a0 = _mm512_shuffle_i64x2(w0, w1, 0x44), a1 = _mm512_shuffle_i64x2(w2, w3, 0x44);
    const __m512i a2 = _mm512_shuffle_i64x2(w0, w1, 0xEE), a3 = _mm512_shuffle_i64x2(w2, w3, 0xEE);
    _mm512_storeu_si512(d, _mm512_shuffle_i64x2(a0, a1, 0x88));
    _mm512_storeu_si512(d + 64, _mm512_shuffle_i64x2(a0, a1, 0xDD));
    _mm512_storeu_si512(d + 128, _mm512_shuffle_i64x2(a2, a3, 0x88));
    _mm512_storeu_si512(d + 192, _mm512_shuffle_i64x2(a2, a3, 0xDD));
  }
};

struct Sm8 {
  static constexpr bool kWide = false;
  static constexpr int kMax = 255;
  static __m512i LoadClamped(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  static __m512i LoadRaw(const uint8_t* p) { return LoadClamped(p); }
  static void Store(uint8_t* p, __m512i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtusepi16_epi8(v));
  }
};

struct Sm16 {
  static constexpr bool kWide = true;
  static constexpr int kMax = 1023;
  static __m512i LoadRaw(const uint8_t* p) { return _mm512_loadu_si512(p); }
  static __m512i LoadClamped(const uint8_t* p) {
    return _mm512_min_epu16(LoadRaw(p), _mm512_set1_epi16(1023));
  }
  static void Store(uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }
};

}  // namespace

bool Avx512TonesBuilt() { return true; }

void HueSaturationRowAvx512(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                            const HslAdjust& adjust) {
  if (bytesPerPixel == 3 && HslVectorAllowed(adjust) && HaveAvx512VbmiForms()) {
    HueSaturationRow24Avx512Vbmi(dst, src, n, adjust);
    return;
  }
  HueSaturationRowByFormat<Avx512Tone, Px24, Px32, Px48, Px64>(dst, src, n, bytesPerPixel, adjust);
}

void SharpenRowAvx512(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                      const SharpenVector& sharpen, const BrightnessVector* post,
                      uint16_t* scratch) {
  SharpenRowByFormat<Avx512Tone, Sm8, Sm16>(dst, rows, n, bytesPerPixel, sharpen, post, scratch);
}

#else

bool Avx512TonesBuilt() { return false; }

void HueSaturationRowAvx512(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                            const HslAdjust& adjust) {
  HueSaturationRowAvx2(dst, src, n, bytesPerPixel, adjust);
}
void SharpenRowAvx512(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                      const SharpenVector& sharpen, const BrightnessVector* post,
                      uint16_t* scratch) {
  SharpenRowAvx2(dst, rows, n, bytesPerPixel, sharpen, post, scratch);
}

#endif

}  // namespace varnel
