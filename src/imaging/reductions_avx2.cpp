// AVX2 reduction kernels: thirty-two 16-bit samples to their 8-bit part per
// step, and the fourth sample of a pixel dropped with a byte shuffle.
#include "imaging/reduction_kernels.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

// 32 samples from src as bytes, in order.
inline __m256i Narrow32(const uint8_t* src, __m128i bits) {
  const __m256i low = _mm256_set1_epi16(0x00FF);
  const __m256i a = _mm256_and_si256(
      _mm256_srl_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)), bits), low);
  const __m256i b = _mm256_and_si256(
      _mm256_srl_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32)), bits), low);
  // The packs interleave the halves: a0 b0 a1 b1 back to a0 a1 b0 b1.
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

// Eight pixels of four bytes to 24 bytes at dst.
inline void StoreThreeOfFour(uint8_t* dst, __m256i pixels) {
  const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                        1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_shuffle_epi8(pixels, drop);
  const __m128i lo = _mm256_castsi256_si128(packed), hi = _mm256_extracti128_si256(packed, 1);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), lo);
  const int lo4 = _mm_cvtsi128_si32(_mm_srli_si128(lo, 8));
  std::memcpy(dst + 8, &lo4, 4);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 12), hi);
  const int hi4 = _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
  std::memcpy(dst + 20, &hi4, 4);
}

}  // namespace

void NarrowSamplesAvx2(uint8_t* dst, const uint8_t* src, int count, int shift) {
  const __m128i bits = _mm_cvtsi32_si128(shift);
  int i = 0;
  for (; i + 32 <= count; i += 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), Narrow32(src + 2 * i, bits));
  }
  for (; i < count; ++i) {
    dst[i] = static_cast<uint8_t>((src[2 * i] | src[2 * i + 1] << 8) >> shift);
  }
}

void NarrowPixels64To24Avx2(uint8_t* dst, const uint8_t* src, int n, int shift) {
  const __m128i bits = _mm_cvtsi32_si128(shift);
  int x = 0;
  for (; x + 8 <= n; x += 8) StoreThreeOfFour(dst + 3 * x, Narrow32(src + 8 * x, bits));
  for (; x < n; ++x) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* s = src + 8 * x + 2 * c;
      dst[3 * x + c] = static_cast<uint8_t>((s[0] | s[1] << 8) >> shift);
    }
  }
}

void DropFourthByteAvx2(uint8_t* dst, const uint8_t* src, int n) {
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    StoreThreeOfFour(dst + 3 * x,
                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * x)));
  }
  for (; x < n; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
}

#else

void NarrowSamplesAvx2(uint8_t* dst, const uint8_t* src, int count, int shift) {
  NarrowSamplesSse2(dst, src, count, shift);
}
void NarrowPixels64To24Avx2(uint8_t* dst, const uint8_t* src, int n, int shift) {
  for (int x = 0; x < n; ++x) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* s = src + 8 * x + 2 * c;
      dst[3 * x + c] = static_cast<uint8_t>((s[0] | s[1] << 8) >> shift);
    }
  }
}
void DropFourthByteAvx2(uint8_t* dst, const uint8_t* src, int n) {
  for (int x = 0; x < n; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
}

#endif

}  // namespace varnel
