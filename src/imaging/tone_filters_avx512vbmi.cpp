// The AVX-512 kernels that need VBMI's byte permutes: the 8-bit tone map (a
// 256-entry byte table is four registers, and two two-register permutes and
// a blend on the top bit of the sample look up sixty-four samples at once),
// and the loads and stores of 24-bit pixels for hue and saturation (one
// permute per colour plane instead of a chain of 16-byte inserts and
// extracts, which cost as much as the filter's arithmetic).
#include "imaging/tone_kernels.h"

#include <array>

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
#include "imaging/tone_avx512.h"
#endif

namespace varnel {

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
namespace {

using ByteIndex = std::array<uint8_t, 64>;

// The bytes of colour `c` of 32 packed 24-bit pixels (96 bytes in two
// registers) into the even bytes of the 16-bit lanes.
constexpr ByteIndex PlaneIndex(int c) {
  ByteIndex index{};
  for (int j = 0; j < 64; ++j) index[j] = static_cast<uint8_t>(j % 2 == 0 ? 3 * (j / 2) + c : 0);
  return index;
}
// Output bytes [first, first + 64) of the packed pixels from a register of
// blue-green pairs (bytes 0..63) and one of reds in the even bytes (64..127).
constexpr ByteIndex PackIndex(int first) {
  ByteIndex index{};
  for (int j = 0; j < 64; ++j) {
    const int k = first + j, pixel = std::min(k / 3, 31), c = k % 3;
    index[j] = static_cast<uint8_t>(c == 2 ? 64 + 2 * pixel : 2 * pixel + c);
  }
  return index;
}
alignas(64) constexpr ByteIndex kBlue = PlaneIndex(0), kGreen = PlaneIndex(1), kRed = PlaneIndex(2),
                                kPackLow = PackIndex(0), kPackHigh = PackIndex(64);

__m512i Index(const ByteIndex& index) { return _mm512_load_si512(index.data()); }

constexpr __mmask64 kEvenBytes = 0x5555555555555555ull;
constexpr __mmask64 kLow32 = 0xFFFFFFFFull;

// 24-bit pixels in the plain order of the row; the masked loads and stores
// touch no byte outside the step's 96.
struct Px24Vbmi {
  static constexpr int kBytes = 3;
  static constexpr int kOverread = 0;
  struct Extra {};
  static void Load(const uint8_t* s, __m512i& b, __m512i& g, __m512i& r, Extra&) {
    const __m512i low = _mm512_loadu_si512(s), high = _mm512_maskz_loadu_epi8(kLow32, s + 64);
    b = _mm512_maskz_permutex2var_epi8(kEvenBytes, low, Index(kBlue), high);
    g = _mm512_maskz_permutex2var_epi8(kEvenBytes, low, Index(kGreen), high);
    r = _mm512_maskz_permutex2var_epi8(kEvenBytes, low, Index(kRed), high);
  }
  // The filter's values are within 0..255, so each lane's low byte is the
  // sample.
  static void Store(uint8_t* d, __m512i b, __m512i g, __m512i r, const Extra&) {
    const __m512i bg = _mm512_or_si512(b, _mm512_slli_epi16(g, 8));
    _mm512_storeu_si512(d, _mm512_permutex2var_epi8(bg, Index(kPackLow), r));
    _mm512_mask_storeu_epi8(d + 64, kLow32, _mm512_permutex2var_epi8(bg, Index(kPackHigh), r));
  }
};

}  // namespace

bool Avx512VbmiMapBuilt() { return true; }

void HueSaturationRow24Avx512Vbmi(uint8_t* dst, const uint8_t* src, int n,
                                  const HslAdjust& adjust) {
  HueSaturationRowLanes<Avx512Tone, Px24Vbmi>(dst, src, n, adjust);
}

void MapBytesAvx512Vbmi(uint8_t* dst, const uint8_t* src, int count, bool keepFourth,
                        const uint8_t* table) {
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  // With four samples a pixel the fourth keeps its value; runs start on a
  // pixel, and 64 is a whole number of pixels.
  const __mmask64 keep = keepFourth ? 0x8888888888888888ull : 0;
  auto map = [&](__m512i v) {
    const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
    const __m512i mapped = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    return _mm512_mask_blend_epi8(keep, mapped, v);
  };
  int i = 0;
  for (; i + 64 <= count; i += 64) _mm512_storeu_si512(dst + i, map(_mm512_loadu_si512(src + i)));
  if (i < count) {
    // The rest with masked loads and stores, which touch no byte outside it.
    const __mmask64 rest = (~0ull) >> (64 - (count - i));
    _mm512_mask_storeu_epi8(dst + i, rest, map(_mm512_maskz_loadu_epi8(rest, src + i)));
  }
}

#else

bool Avx512VbmiMapBuilt() { return false; }

void HueSaturationRow24Avx512Vbmi(uint8_t* dst, const uint8_t* src, int n,
                                  const HslAdjust& adjust) {
  HueSaturationRowAvx512(dst, src, n, 3, adjust);
}

void MapBytesAvx512Vbmi(uint8_t* dst, const uint8_t* src, int count, bool keepFourth,
                        const uint8_t* table) {
  for (int i = 0; i < count; ++i) dst[i] = keepFourth && i % 4 == 3 ? src[i] : table[src[i]];
}

#endif

}  // namespace varnel
