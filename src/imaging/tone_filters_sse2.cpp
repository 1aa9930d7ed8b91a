// SSE2 kernels of hue and saturation and of sharpness: eight pixels (hue and
// saturation) or eight samples (sharpness) per step in 16-bit lanes, giving
// the scalar kernels' results bit for bit (tone_vector.h). SSE2 has no byte
// shuffle, so the pixels of a hue and saturation step are gathered into
// colour planes and scattered back sample by sample.
#include "imaging/tone_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "imaging/tone_vector.h"
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

struct Sse2Tone : RegisterMasks<Sse2Tone> {
  using Vec = __m128i;
  using Mask = __m128i;
  static constexpr int kLanes = 8;
  static Vec Set1(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static Vec Zero() { return _mm_setzero_si128(); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm_min_epi16(a, b); }
  static Vec MinU(Vec a, Vec b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
  static Vec CmpEq(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
  static Vec CmpGt(Vec a, Vec b) { return _mm_cmpgt_epi16(a, b); }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
  static Vec Srli(Vec v, int n) { return _mm_srli_epi16(v, n); }
  static Vec Slli(Vec v, int n) { return _mm_slli_epi16(v, n); }
  static Vec Srl(Vec v, int n) { return _mm_srl_epi16(v, _mm_cvtsi32_si128(n)); }
  static Vec MulLo(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
  static Vec MulHiU(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
  static Vec Abs(Vec v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }
  // Negates v where ref is negative; the callers' v is 0 wherever ref is.
  static Vec Sign(Vec v, Vec ref) {
    const __m128i m = _mm_srai_epi16(ref, 15);
    return _mm_sub_epi16(_mm_xor_si128(v, m), m);
  }
  static Vec Blend(Vec mask, Vec a, Vec b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
  static Vec LoadU16(const uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void StoreU16(uint16_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static Vec FourthOfFour() { return _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1); }
  // Exact, as in the AVX2 form.
  static void Quotients(Vec dPos, Vec den, Vec absNum, Vec& s, Vec& q) {
    const __m128i z = _mm_setzero_si128();
    auto lo = [&](Vec v) { return _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, z)); };
    auto hi = [&](Vec v) { return _mm_cvtepi32_ps(_mm_unpackhi_epi16(v, z)); };
    const __m128 dLo = lo(dPos), dHi = hi(dPos);
    const __m128 c255 = _mm_set1_ps(255.0f), c64 = _mm_set1_ps(64.0f);
    const __m128i sLo = _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(dLo, c255), lo(den)));
    const __m128i sHi = _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(dHi, c255), hi(den)));
    const __m128i qLo = _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(lo(absNum), c64), dLo));
    const __m128i qHi = _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(hi(absNum), c64), dHi));
    s = _mm_packs_epi32(sLo, sHi);
    q = _mm_packs_epi32(qLo, qHi);
  }
};

// Pixels of kBytes bytes (8-bit samples for 3 and 4, 16-bit for 6 and 8)
// gathered into planes through the stack; a fourth sample is carried along.
template <int kBytesPerPixel>
struct PlanePx {
  static constexpr int kBytes = kBytesPerPixel;
  static constexpr int kOverread = 0;
  static constexpr bool kWide = kBytesPerPixel >= 6;
  static constexpr bool kFourth = kBytesPerPixel == 4 || kBytesPerPixel == 8;
  struct Extra {
    uint16_t fourth[8];
  };
  static int Sample(const uint8_t* p) {
    if constexpr (kWide) {
      return std::min(p[0] | p[1] << 8, 1023) >> 2;
    } else {
      return *p;
    }
  }
  static void Put(uint8_t* p, int v) {
    if constexpr (kWide) {
      p[0] = static_cast<uint8_t>(v << 2);
      p[1] = static_cast<uint8_t>(v >> 6);
    } else {
      *p = static_cast<uint8_t>(v);
    }
  }
  static void Load(const uint8_t* s, __m128i& b, __m128i& g, __m128i& r, Extra& extra) {
    constexpr int kSample = kWide ? 2 : 1;
    alignas(16) int16_t planes[3][8];
    for (int i = 0; i < 8; ++i) {
      const uint8_t* p = s + i * kBytes;
      for (int c = 0; c < 3; ++c) planes[c][i] = static_cast<int16_t>(Sample(p + c * kSample));
      if constexpr (kFourth) {
        extra.fourth[i] = static_cast<uint16_t>(kWide ? p[6] | p[7] << 8 : p[3]);
      }
    }
    b = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[0]));
    g = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[1]));
    r = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[2]));
  }
  static void Store(uint8_t* d, __m128i b, __m128i g, __m128i r, const Extra& extra) {
    constexpr int kSample = kWide ? 2 : 1;
    alignas(16) int16_t planes[3][8];
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[0]), b);
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[1]), g);
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[2]), r);
    for (int i = 0; i < 8; ++i) {
      uint8_t* p = d + i * kBytes;
      for (int c = 0; c < 3; ++c) Put(p + c * kSample, planes[c][i]);
      if constexpr (kFourth) {
        p[3 * kSample] = static_cast<uint8_t>(extra.fourth[i]);
        if (kWide) p[7] = static_cast<uint8_t>(extra.fourth[i] >> 8);
      }
    }
  }
};

struct Sm8 {
  static constexpr bool kWide = false;
  static constexpr int kMax = 255;
  static __m128i LoadClamped(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_setzero_si128());
  }
  static __m128i LoadRaw(const uint8_t* p) { return LoadClamped(p); }
  static void Store(uint8_t* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
  }
};

struct Sm16 {
  static constexpr bool kWide = true;
  static constexpr int kMax = 1023;
  static __m128i LoadRaw(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static __m128i LoadClamped(const uint8_t* p) {
    return Sse2Tone::MinU(LoadRaw(p), Sse2Tone::Set1(1023));
  }
  static void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
};

}  // namespace

void HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust) {
  HueSaturationRowByFormat<Sse2Tone, PlanePx<3>, PlanePx<4>, PlanePx<6>, PlanePx<8>>(
      dst, src, n, bytesPerPixel, adjust);
}

void SharpenRowSse2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t* scratch) {
  SharpenRowByFormat<Sse2Tone, Sm8, Sm16>(dst, rows, n, bytesPerPixel, sharpen, post, scratch);
}

#else

// Builds without SSE2 never choose these kernels; they compute the same rows
// with the scalar kernels.
void HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust) {
  HueSaturationRowScalar(dst, bytesPerPixel, src, bytesPerPixel, n, bytesPerPixel >= 6, adjust);
}
void SharpenRowSse2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t*) {
  SharpenRowPortable(dst, rows, n, bytesPerPixel, sharpen, post);
}

#endif

}  // namespace varnel
