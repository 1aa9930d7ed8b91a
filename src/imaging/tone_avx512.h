// The AVX-512 lanes of the tone kernels (tone_vector.h): thirty-two 16-bit
// lanes, comparisons into mask registers. Included only by files built with
// the AVX-512 flags, each of which gets its own copy (an anonymous namespace).
#pragma once

#if !defined(__AVX512F__) || !defined(__AVX512BW__)
#error "tone_avx512.h needs the AVX-512 F and BW flags"
#endif

// GCC 12's AVX-512 headers fill the unused source of some intrinsics with a
// self-initialised "undefined" register, which its own uninitialised-value
// analysis then reports at every use (fixed in GCC 13's headers the same way):
// the report concerns the header's lines only, so it is turned off for them.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include "imaging/tone_vector.h"

namespace varnel {
namespace {

struct Avx512Tone {
  using Vec = __m512i;
  using Mask = __mmask32;
  static constexpr int kLanes = 32;
  static Vec Set1(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static Vec Zero() { return _mm512_setzero_si512(); }
  static Vec Add(Vec a, Vec b) { return _mm512_add_epi16(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm512_sub_epi16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm512_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm512_min_epi16(a, b); }
  static Vec MinU(Vec a, Vec b) { return _mm512_min_epu16(a, b); }
  static Mask CmpEq(Vec a, Vec b) { return _mm512_cmpeq_epi16_mask(a, b); }
  static Mask CmpGt(Vec a, Vec b) { return _mm512_cmpgt_epi16_mask(a, b); }
  static Mask MaskAnd(Mask a, Mask b) { return a & b; }
  static Mask MaskAndNot(Mask a, Mask b) { return ~a & b; }
  static Vec And(Vec a, Vec b) { return _mm512_and_si512(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm512_andnot_si512(a, b); }
  static Vec Srli(Vec v, int n) { return _mm512_srli_epi16(v, n); }
  static Vec Slli(Vec v, int n) { return _mm512_slli_epi16(v, n); }
  static Vec Srl(Vec v, int n) { return _mm512_srl_epi16(v, _mm_cvtsi32_si128(n)); }
  static Vec MulLo(Vec a, Vec b) { return _mm512_mullo_epi16(a, b); }
  static Vec MulHiU(Vec a, Vec b) { return _mm512_mulhi_epu16(a, b); }
  static Vec Abs(Vec v) { return _mm512_abs_epi16(v); }
  // Negates v where ref is negative; the callers' v is 0 wherever ref is.
  static Vec Sign(Vec v, Vec ref) {
    return _mm512_mask_sub_epi16(v, _mm512_movepi16_mask(ref), _mm512_setzero_si512(), v);
  }
  static Vec Blend(Mask m, Vec a, Vec b) { return _mm512_mask_blend_epi16(m, b, a); }
  static Vec Drop(Mask m, Vec v) { return _mm512_maskz_mov_epi16(static_cast<Mask>(~m), v); }
  static Vec AddWhere(Mask m, Vec v, Vec a) { return _mm512_mask_add_epi16(v, m, v, a); }
  static Vec SubWhere(Mask m, Vec v, Vec a) { return _mm512_mask_sub_epi16(v, m, v, a); }
  static Vec LoadU16(const uint16_t* p) { return _mm512_loadu_si512(p); }
  static void StoreU16(uint16_t* p, Vec v) { _mm512_storeu_si512(p, v); }
  static Mask FourthOfFour() { return 0x88888888u; }
  // The quotients through a reciprocal instead of a division: rcp14 and one
  // Newton step give 1/x within a few units in the last place. The dividend
  // is taken half a unit up: floor(n / x) = floor((n + 1/2) / x) for whole
  // numbers, and (n + 1/2) / x lies at least 1/(2x) >= 1/510 from a whole
  // number, while the error of a quotient of at most 255 is below 1/10000.
  static void Quotients(Vec dPos, Vec den, Vec absNum, Vec& s, Vec& q) {
    const __m512i z = _mm512_setzero_si512();
    auto lo = [&](Vec v) { return _mm512_cvtepi32_ps(_mm512_unpacklo_epi16(v, z)); };
    auto hi = [&](Vec v) { return _mm512_cvtepi32_ps(_mm512_unpackhi_epi16(v, z)); };
    const __m512 one = _mm512_set1_ps(1.0f), half = _mm512_set1_ps(0.5f);
    auto reciprocal = [&](__m512 x) {
      const __m512 r = _mm512_rcp14_ps(x);
      return _mm512_fmadd_ps(r, _mm512_fnmadd_ps(x, r, one), r);
    };
    auto quotient = [&](__m512 n, __m512 inverse) {
      return _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_add_ps(n, half), inverse));
    };
    const __m512 dLo = lo(dPos), dHi = hi(dPos);
    const __m512 c255 = _mm512_set1_ps(255.0f), c64 = _mm512_set1_ps(64.0f);
    const __m512 invDLo = reciprocal(dLo), invDHi = reciprocal(dHi);
    const __m512i sLo = quotient(_mm512_mul_ps(dLo, c255), reciprocal(lo(den)));
    const __m512i sHi = quotient(_mm512_mul_ps(dHi, c255), reciprocal(hi(den)));
    const __m512i qLo = quotient(_mm512_mul_ps(lo(absNum), c64), invDLo);
    const __m512i qHi = quotient(_mm512_mul_ps(hi(absNum), c64), invDHi);
    s = _mm512_packs_epi32(sLo, sHi);
    q = _mm512_packs_epi32(qLo, qHi);
  }
};

}  // namespace
}  // namespace varnel
