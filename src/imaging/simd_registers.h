// The x86 vector registers as the demosaic kernels use them, once per
// register width: SSE2's 128 bits and AVX2's 256. The kernels are written
// once over these (demosaic_vector.h for the pipeline's 8-bit and deep
// demosaic, engine/engine_demosaic_vector.h for the colour engine's), and a
// file compiled with the width's instruction-set flags instantiates them.
//
// The structs live in an anonymous namespace, so every file that includes
// this header has its own copy with internal linkage: the linker can never
// let the AVX2 build of a function stand in for the SSE2 one. A struct is
// defined only where its instruction set is enabled.
//
// Each struct R provides, with the 128-bit-lane semantics of the x86
// instructions (an AVX2 register works as two 128-bit halves):
//   R::Vec, R::kBytes           the register and its width in bytes;
//   Load, Zero, Set16, Set32, Set64, Set16Pair (lo, hi in each 32-bit lane);
//   And, Or, AndNot (~a & b);
//   16-bit lanes: Add, AddS (signed saturating), SubS, AddSU (unsigned
//   saturating), Max, Min (signed), CmpEq, MulLo, MulHiU (unsigned high
//   half), Srli<n>, Slli<n>, Madd (pairs into 32 bits), PackUS (to bytes);
//   32-bit lanes: Add32, Sub32, Srli32<n>, Slli32<n>, Srai32<n>, MulLo32
//   (exact for products below 2^31), MinU32 (for lanes below 2^31), Packs32;
//   UnpackLo8/Hi8/Lo16/Hi16/Lo32/Hi32, ByteShiftRight8 (of each 128-bit half);
//   StoreColumns<kKeep>(d, px[4], keep)
//                               four registers of pixels made by unpacking
//                               (px[i] holds the i-th quarter of each 128-bit
//                               half) stored as kBytes x 4 bytes in column
//                               order; with kKeep the bits of `keep` are kept
//                               from what d held;
//   StoreSome(d, px[4], bytes)  the same, only the first `bytes`;
//   StoreBgr24<kExact>(d, b, g, r)
//                               b, g, r packed by PackUS from even and odd
//                               columns (each 128-bit half: 8 even, 8 odd) as
//                               2 x kBytes pixels of 24 bits; the stores may
//                               spill onto the pixels after them unless kExact;
//   StoreBgr48<kExact>(d, px[4])
//                               px as for StoreColumns, pixels of four 16-bit
//                               samples, stored as 6-byte pixels dropping the
//                               fourth sample; spilling likewise.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace varnel {
namespace {

#if defined(__SSE2__)
struct Sse2Registers {
  using Vec = __m128i;
  static constexpr int kBytes = 16;

  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(uint8_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static Vec Zero() { return _mm_setzero_si128(); }
  static Vec Set16(int16_t v) { return _mm_set1_epi16(v); }
  static Vec Set32(int32_t v) { return _mm_set1_epi32(v); }
  static Vec Set64(uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }
  static Vec Set16Pair(int16_t lo, int16_t hi) {
    return _mm_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16 | static_cast<uint16_t>(lo)));
  }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
  static Vec AddS(Vec a, Vec b) { return _mm_adds_epi16(a, b); }
  static Vec SubS(Vec a, Vec b) { return _mm_subs_epi16(a, b); }
  static Vec AddSU(Vec a, Vec b) { return _mm_adds_epu16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm_min_epi16(a, b); }
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
  static Vec PackUS(Vec a, Vec b) { return _mm_packus_epi16(a, b); }
  static Vec Add32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
  static Vec Sub32(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
  template <int n>
  static Vec Srli32(Vec v) {
    return _mm_srli_epi32(v, n);
  }
  template <int n>
  static Vec Slli32(Vec v) {
    return _mm_slli_epi32(v, n);
  }
  template <int n>
  static Vec Srai32(Vec v) {
    return _mm_srai_epi32(v, n);
  }
  // SSE2 multiplies the even 32-bit lanes into 64 bits; the odd lanes are
  // moved down for a second multiplication, and the low halves put together.
  static Vec MulLo32(Vec a, Vec b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(3, 1, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  // Both lanes below 2^31: the signed comparison orders them.
  static Vec MinU32(Vec a, Vec b) {
    const __m128i aBigger = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(aBigger, b), _mm_andnot_si128(aBigger, a));
  }
  static Vec Packs32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
  static Vec UnpackLo8(Vec a, Vec b) { return _mm_unpacklo_epi8(a, b); }
  static Vec UnpackHi8(Vec a, Vec b) { return _mm_unpackhi_epi8(a, b); }
  static Vec UnpackLo16(Vec a, Vec b) { return _mm_unpacklo_epi16(a, b); }
  static Vec UnpackHi16(Vec a, Vec b) { return _mm_unpackhi_epi16(a, b); }
  static Vec UnpackLo32(Vec a, Vec b) { return _mm_unpacklo_epi32(a, b); }
  static Vec UnpackHi32(Vec a, Vec b) { return _mm_unpackhi_epi32(a, b); }
  static Vec ByteShiftRight8(Vec v) { return _mm_srli_si128(v, 8); }

  template <bool kKeep>
  static void StoreColumns(uint8_t* d, const Vec px[4], Vec keep) {
    for (int i = 0; i < 4; ++i) {
      uint8_t* p = d + 16 * i;
      Store(p, kKeep ? Or(And(Load(p), keep), px[i]) : px[i]);
    }
  }
  // Out of line, so that the full steps keep their registers.
  [[gnu::noinline]] static void StoreSome(uint8_t* d, const Vec px[4], int bytes) {
    alignas(16) uint8_t all[64];
    StoreColumns<false>(all, px, Zero());
    std::memcpy(d, all, static_cast<size_t>(bytes));
  }

  // A pixel pair (even, odd) is the three 16-bit words (B G), (R B'), (G' R'),
  // interleaved into the 64-bit lanes of four registers, two pairs each; each
  // 8-byte store spills 2 bytes onto the next pixel, written afterwards, and
  // with kExact the last pair is written as exactly 6 bytes.
  template <bool kExact>
  static void StoreBgr24(uint8_t* d, Vec b, Vec g, Vec r) {
    const __m128i z = Zero();
    const __m128i w0 = _mm_unpacklo_epi8(b, g);                     // B G
    const __m128i w1 = _mm_unpacklo_epi8(r, _mm_srli_si128(b, 8));  // R B'
    const __m128i w2 = _mm_unpackhi_epi8(g, r);                     // G' R'
    const __m128i w01Lo = _mm_unpacklo_epi16(w0, w1), w01Hi = _mm_unpackhi_epi16(w0, w1);
    const __m128i w2Lo = _mm_unpacklo_epi16(w2, z), w2Hi = _mm_unpackhi_epi16(w2, z);
    StorePairs<false>(d, _mm_unpacklo_epi32(w01Lo, w2Lo), 6);
    StorePairs<false>(d + 12, _mm_unpackhi_epi32(w01Lo, w2Lo), 6);
    StorePairs<false>(d + 24, _mm_unpacklo_epi32(w01Hi, w2Hi), 6);
    StorePairs<kExact>(d + 36, _mm_unpackhi_epi32(w01Hi, w2Hi), 6);
  }
  // Two pixels of four samples each per register, stored 6 bytes apart.
  template <bool kExact>
  static void StoreBgr48(uint8_t* d, const Vec px[4]) {
    for (int i = 0; i < 3; ++i) StorePairs<false>(d + 12 * i, px[i], 6);
    StorePairs<kExact>(d + 36, px[3], 6);
  }

 private:
  // The two 64-bit halves of p at d and d + `apart`, each an 8-byte store;
  // with kExact the second one as its first 6 bytes.
  template <bool kExact>
  static void StorePairs(uint8_t* d, __m128i p, int apart) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), p);
    if constexpr (kExact) {
      const __m128i high = _mm_unpackhi_epi64(p, p);
      const int first4 = _mm_cvtsi128_si32(high);
      const uint16_t last2 = static_cast<uint16_t>(_mm_extract_epi16(high, 2));
      std::memcpy(d + apart, &first4, 4);
      std::memcpy(d + apart + 4, &last2, 2);
    } else {
      // movhps through the builtin, which makes no aligned access of its own.
      _mm_storeh_pi(reinterpret_cast<__m64*>(d + apart), _mm_castsi128_ps(p));
    }
  }
};
#endif

#if defined(__AVX2__)
struct Avx2Registers {
  using Vec = __m256i;
  static constexpr int kBytes = 32;

  static Vec Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void Store(uint8_t* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Set16(int16_t v) { return _mm256_set1_epi16(v); }
  static Vec Set32(int32_t v) { return _mm256_set1_epi32(v); }
  static Vec Set64(uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
  static Vec Set16Pair(int16_t lo, int16_t hi) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16 | static_cast<uint16_t>(lo)));
  }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec AndNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec AddS(Vec a, Vec b) { return _mm256_adds_epi16(a, b); }
  static Vec SubS(Vec a, Vec b) { return _mm256_subs_epi16(a, b); }
  static Vec AddSU(Vec a, Vec b) { return _mm256_adds_epu16(a, b); }
  static Vec Max(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
  static Vec Min(Vec a, Vec b) { return _mm256_min_epi16(a, b); }
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
  static Vec PackUS(Vec a, Vec b) { return _mm256_packus_epi16(a, b); }
  static Vec Add32(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static Vec Sub32(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
  template <int n>
  static Vec Srli32(Vec v) {
    return _mm256_srli_epi32(v, n);
  }
  template <int n>
  static Vec Slli32(Vec v) {
    return _mm256_slli_epi32(v, n);
  }
  template <int n>
  static Vec Srai32(Vec v) {
    return _mm256_srai_epi32(v, n);
  }
  static Vec MulLo32(Vec a, Vec b) { return _mm256_mullo_epi32(a, b); }
  static Vec MinU32(Vec a, Vec b) { return _mm256_min_epu32(a, b); }
  static Vec Packs32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
  static Vec UnpackLo8(Vec a, Vec b) { return _mm256_unpacklo_epi8(a, b); }
  static Vec UnpackHi8(Vec a, Vec b) { return _mm256_unpackhi_epi8(a, b); }
  static Vec UnpackLo16(Vec a, Vec b) { return _mm256_unpacklo_epi16(a, b); }
  static Vec UnpackHi16(Vec a, Vec b) { return _mm256_unpackhi_epi16(a, b); }
  static Vec UnpackLo32(Vec a, Vec b) { return _mm256_unpacklo_epi32(a, b); }
  static Vec UnpackHi32(Vec a, Vec b) { return _mm256_unpackhi_epi32(a, b); }
  static Vec ByteShiftRight8(Vec v) { return _mm256_srli_si256(v, 8); }

  // px[i] holds quarter i of each half: the low halves are the first half of
  // the columns, the high halves the second.
  template <bool kKeep>
  static void StoreColumns(uint8_t* d, const Vec px[4], Vec keep) {
    const Vec ordered[4] = {_mm256_permute2x128_si256(px[0], px[1], 0x20),
                            _mm256_permute2x128_si256(px[2], px[3], 0x20),
                            _mm256_permute2x128_si256(px[0], px[1], 0x31),
                            _mm256_permute2x128_si256(px[2], px[3], 0x31)};
    for (int i = 0; i < 4; ++i) {
      uint8_t* p = d + 32 * i;
      Store(p, kKeep ? Or(And(Load(p), keep), ordered[i]) : ordered[i]);
    }
  }
  [[gnu::noinline]] static void StoreSome(uint8_t* d, const Vec px[4], int bytes) {
    alignas(32) uint8_t all[128];
    StoreColumns<false>(all, px, Zero());
    std::memcpy(d, all, static_cast<size_t>(bytes));
  }

  // Each 16-byte store carries four pixels and spills 4 bytes onto the next
  // ones, written afterwards; with kExact the last four pixels are written
  // as exactly 12 bytes.
  template <bool kExact>
  static void StoreBgr24(uint8_t* d, Vec b, Vec g, Vec r) {
    const __m256i z = Zero();
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
    StoreTwelves<kExact>(d, q);
  }
  template <bool kExact>
  static void StoreBgr48(uint8_t* d, const Vec px[4]) {
    const __m256i drop4th =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5,
                         8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i q[4] = {_mm256_shuffle_epi8(px[0], drop4th), _mm256_shuffle_epi8(px[1], drop4th),
                          _mm256_shuffle_epi8(px[2], drop4th), _mm256_shuffle_epi8(px[3], drop4th)};
    StoreTwelves<kExact>(d, q);
  }

 private:
  // The low 12 bytes of each half of q[0..3] (low halves first), 12 bytes
  // apart, as 16-byte stores; with kExact the last one as exactly 12 bytes.
  template <bool kExact>
  static void StoreTwelves(uint8_t* d, const __m256i q[4]) {
    for (int i = 0; i < 4; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12 * i), _mm256_castsi256_si128(q[i]));
    }
    for (int i = 0; i < 3; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48 + 12 * i),
                       _mm256_extracti128_si256(q[i], 1));
    }
    const __m128i last = _mm256_extracti128_si256(q[3], 1);
    if constexpr (kExact) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 84), last);
      const int last4 = _mm_cvtsi128_si32(_mm_srli_si128(last, 8));
      std::memcpy(d + 92, &last4, 4);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 84), last);
    }
  }
};
#endif

}  // namespace
}  // namespace varnel
