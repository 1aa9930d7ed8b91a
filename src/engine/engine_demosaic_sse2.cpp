// SSE2 form of the colour engine's vector demosaic: sixteen pixels per step
// in 128-bit registers (the routines themselves are in
// engine_demosaic_vector.h).
#include <emmintrin.h>

#include <cstring>

#include "engine/engine_demosaic.h"
#include "engine/engine_demosaic_vector.h"

namespace varnel {

namespace {

struct Sse2EngineLanes {
  using Vec = __m128i;
  static constexpr int kStep = 16;
  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static Vec Zero() { return _mm_setzero_si128(); }
  static Vec Set16(int16_t v) { return _mm_set1_epi16(v); }
  static Vec Set32(int32_t v) { return _mm_set1_epi32(v); }
  static Vec Set16Pair(int16_t lo, int16_t hi) {
    return _mm_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16 | static_cast<uint16_t>(lo)));
  }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
  static Vec AddS(Vec a, Vec b) { return _mm_adds_epi16(a, b); }
  static Vec SubS(Vec a, Vec b) { return _mm_subs_epi16(a, b); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm_min_epi16(a, b); }
  static Vec AddSU(Vec a, Vec b) { return _mm_adds_epu16(a, b); }
  static Vec CmpEq(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
  static Vec MulLo(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
  static Vec MulHiU(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
  template <int n>
  static Vec Srli(Vec v) {
    return _mm_srli_epi16(v, n);
  }
  template <int n>
  static Vec Slli(Vec v) {
    return _mm_slli_epi16(v, n);
  }
  static Vec Madd(Vec a, Vec b) { return _mm_madd_epi16(a, b); }
  static Vec Add32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
  static Vec Sub32(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
  template <int n>
  static Vec Srai32(Vec v) {
    return _mm_srai_epi32(v, n);
  }
  static Vec UnpackLo16(Vec a, Vec b) { return _mm_unpacklo_epi16(a, b); }
  static Vec UnpackHi16(Vec a, Vec b) { return _mm_unpackhi_epi16(a, b); }
  static Vec UnpackLo8(Vec a, Vec b) { return _mm_unpacklo_epi8(a, b); }
  static Vec UnpackHi8(Vec a, Vec b) { return _mm_unpackhi_epi8(a, b); }
  static Vec Packs32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
  // Sixteen B, G, R, 255 pixels (64 bytes); with fewer than sixteen pixels
  // left in the row, only those are written.
  static void StorePixels(uint8_t* dst, const Vec px[4], int count) {
    if (count < 16) {
      StoreSome(dst, px, count);
      return;
    }
    for (int i = 0; i < 4; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * i), px[i]);
  }
  // The last step of a row with fewer pixels left, through a buffer (out of
  // line, so that the full steps keep their registers).
  [[gnu::noinline]] static void StoreSome(uint8_t* dst, const Vec px[4], int count) {
    alignas(16) uint8_t tail[64];
    StorePixels(tail, px, 16);
    std::memcpy(dst, tail, static_cast<size_t>(count) * 4);
  }
};

}  // namespace

EngineVectorRoutine SelectEngineVectorRoutine(EngineVectorFamily family, EnginePhase phase) {
  return engine_vector::SelectRoutine<Sse2EngineLanes>(family, phase);
}

}  // namespace varnel
