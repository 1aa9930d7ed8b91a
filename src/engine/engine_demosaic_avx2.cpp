// AVX2 form of the colour engine's vector demosaic: the SSE2 form twice as
// wide, thirty-two pixels per step, with the same results bit for bit. Each
// 128-bit half of a register holds the sixteen pixels the SSE2 form holds in
// one register: the low half the first sixteen of the step, the high half the
// next sixteen.
#include "engine/engine_demosaic.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>

#include "engine/engine_demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

struct Avx2EngineLanes {
  using Vec = __m256i;
  static constexpr int kStep = 32;
  static Vec Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Set16(int16_t v) { return _mm256_set1_epi16(v); }
  static Vec Set32(int32_t v) { return _mm256_set1_epi32(v); }
  static Vec Set16Pair(int16_t lo, int16_t hi) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16 | static_cast<uint16_t>(lo)));
  }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
  static Vec AddS(Vec a, Vec b) { return _mm256_adds_epi16(a, b); }
  static Vec SubS(Vec a, Vec b) { return _mm256_subs_epi16(a, b); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm256_min_epi16(a, b); }
  static Vec AddSU(Vec a, Vec b) { return _mm256_adds_epu16(a, b); }
  static Vec CmpEq(Vec a, Vec b) { return _mm256_cmpeq_epi16(a, b); }
  static Vec MulLo(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
  static Vec MulHiU(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
  template <int n>
  static Vec Srli(Vec v) {
    return _mm256_srli_epi16(v, n);
  }
  template <int n>
  static Vec Slli(Vec v) {
    return _mm256_slli_epi16(v, n);
  }
  static Vec Madd(Vec a, Vec b) { return _mm256_madd_epi16(a, b); }
  static Vec Add32(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static Vec Sub32(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
  template <int n>
  static Vec Srai32(Vec v) {
    return _mm256_srai_epi32(v, n);
  }
  static Vec UnpackLo16(Vec a, Vec b) { return _mm256_unpacklo_epi16(a, b); }
  static Vec UnpackHi16(Vec a, Vec b) { return _mm256_unpackhi_epi16(a, b); }
  static Vec UnpackLo8(Vec a, Vec b) { return _mm256_unpacklo_epi8(a, b); }
  static Vec UnpackHi8(Vec a, Vec b) { return _mm256_unpackhi_epi8(a, b); }
  static Vec Packs32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
  // px[i] holds pixels 4i..4i+3 of each half: the low halves are the step's
  // first sixteen pixels, the high halves the next sixteen.
  static void StorePixels(uint8_t* dst, const Vec px[4], int count) {
    if (count < 32) {
      StoreSome(dst, px, count);
      return;
    }
    auto store = [dst](int i, __m256i v) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32 * i), v);
    };
    store(0, _mm256_permute2x128_si256(px[0], px[1], 0x20));
    store(1, _mm256_permute2x128_si256(px[2], px[3], 0x20));
    store(2, _mm256_permute2x128_si256(px[0], px[1], 0x31));
    store(3, _mm256_permute2x128_si256(px[2], px[3], 0x31));
  }
  // The last step of a row with fewer than 32 pixels left, through a buffer
  // (out of line, so that the full steps keep their registers).
  [[gnu::noinline]] static void StoreSome(uint8_t* dst, const Vec px[4], int count) {
    alignas(32) uint8_t tail[128];
    StorePixels(tail, px, 32);
    std::memcpy(dst, tail, static_cast<size_t>(count) * 4);
  }
};

}  // namespace

bool EngineVectorAvx2Built() { return true; }

EngineVectorRoutine SelectEngineVectorRoutineAvx2(EngineVectorFamily family, EnginePhase phase) {
  return engine_vector::SelectRoutine<Avx2EngineLanes>(family, phase);
}

#else

bool EngineVectorAvx2Built() { return false; }

EngineVectorRoutine SelectEngineVectorRoutineAvx2(EngineVectorFamily family, EnginePhase phase) {
  return SelectEngineVectorRoutine(family, phase);
}

#endif

}  // namespace varnel
