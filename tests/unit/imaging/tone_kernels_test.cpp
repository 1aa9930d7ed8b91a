// The vector kernels of hue and saturation and of sharpness against the scalar
// kernels they stand in for.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image_buffers.h"
#include "imaging/tone_kernels.h"
#include "imaging/tone_map.h"
#include "imaging/tone_tables.h"

namespace varnel::test {
namespace {

struct KernelForm {
  const char* name;
  void (*hsl)(uint8_t*, const uint8_t*, int, int, const HslAdjust&);
  void (*sharpen)(uint8_t*, const uint8_t* const[4], int, int, const SharpenVector&,
                  const BrightnessVector*, uint16_t*);
  SimdLevel level;
};
// The AVX-512 forms run at the AVX2 level where the processor has them.
const KernelForm kForms[] = {
    {"sse2", HueSaturationRowSse2, SharpenRowSse2, SimdLevel::kSse2},
    {"avx2", HueSaturationRowAvx2, SharpenRowAvx2, SimdLevel::kAvx2},
    {"avx512", HueSaturationRowAvx512, SharpenRowAvx512, SimdLevel::kAvx2}};

bool Available(const KernelForm& form) {
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  const SimdLevel best = ChooseSimdLevel(cpu);
  if (std::string(form.name) == "avx512" && !HaveAvx512Forms()) return false;
  return best != SimdLevel::kScalar && (form.level == SimdLevel::kSse2 || best == form.level);
}

bool Wide(int bpp) { return bpp == 2 || bpp >= 6; }

// Random pixels; 16-bit samples range over all 16 bits so that values above
// the 10 bits the filters read are present. Some runs of gray pixels, and
// pixels with two equal channels, so the ties of the hue sectors occur.
std::vector<uint8_t> RandomRow(int n, int bpp, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> row(static_cast<size_t>(n) * bpp);
  for (auto& b : row) b = static_cast<uint8_t>(rng());
  const int sample = Wide(bpp) ? 2 : 1;
  if (bpp / sample < 3) return row;  // mono: no channels to tie
  for (int x = 0; x < n; ++x) {
    uint8_t* p = row.data() + x * bpp;
    switch (rng() % 6) {
      case 0:  // gray
        std::memcpy(p + sample, p, sample);
        std::memcpy(p + 2 * sample, p, sample);
        break;
      case 1:  // red = green
        std::memcpy(p + 2 * sample, p + sample, sample);
        break;
      case 2:  // blue = red
        std::memcpy(p, p + 2 * sample, sample);
        break;
      default:
        break;
    }
  }
  return row;
}

// Fault caught: a vector hue and saturation kernel that differs from the
// scalar kernel anywhere: a sector or tie rule, the truncation of a negative
// hue quotient, the hue wrap, the lightness branch of q, the saturation
// limits, the gray case, the 16-bit narrowing (samples above 1023 read as
// 1023), a fourth sample written, or the pixels after the last whole step.
TEST(ToneKernelTest, HueSaturationEqualsTheScalarKernel) {
  const HslAdjust adjusts[] = {{30, 0, 20}, {0, 0, -255}, {-360, 0, 0},   {360, 0, 255},
                               {-1, 0, 1},  {359, 0, -1}, {180, 0, 1024}, {-200, 0, -1024},
                               {0, 0, 100}, {77, 0, -37}, {-120, 0, 300}, {1, 0, 0}};
  const int widths[] = {1, 2, 7, 8, 15, 16, 17, 18, 19, 31, 33, 34, 64, 101};
  for (const KernelForm& form : kForms) {
    if (!Available(form)) continue;
    for (int bpp : {3, 4, 6, 8}) {
      for (int n : widths) {
        for (const HslAdjust& a : adjusts) {
          const std::vector<uint8_t> src = RandomRow(n, bpp, n * 131 + bpp + a.hue);
          std::vector<uint8_t> ref(src.size(), 0x5A), out(src.size(), 0x5A);
          HueSaturationRowScalar(ref.data(), bpp, src.data(), bpp, n, Wide(bpp), a);
          if (bpp == 4 || bpp == 8) {  // the scalar kernel leaves the fourth sample
            for (int x = 0; x < n; ++x) {
              std::memcpy(ref.data() + x * bpp + bpp * 3 / 4, src.data() + x * bpp + bpp * 3 / 4,
                          bpp / 4);
            }
          }
          form.hsl(out.data(), src.data(), n, bpp, a);
          ASSERT_EQ(out, ref) << form.name << " bpp " << bpp << " n " << n << " hue " << a.hue
                              << " saturation " << a.saturation;
          std::vector<uint8_t> inPlace = src;
          form.hsl(inPlace.data(), inPlace.data(), n, bpp, a);
          ASSERT_EQ(inPlace, ref) << form.name << " in place, bpp " << bpp << " n " << n;
        }
      }
    }
  }
}

// Fault caught: a colour whose hue or saturation the vector arithmetic gets
// wrong (a division that rounds instead of truncating, a 16-bit overflow):
// every one of the 2^24 colours, at a hue shift and saturation offset that
// reach both wraps and both limits.
TEST(ToneKernelTest, HueSaturationEveryColour) {
  constexpr int kN = 1 << 16;
  std::vector<uint8_t> src(3 * kN), ref(3 * kN), out(3 * kN);
  for (const HslAdjust a : {HslAdjust{-250, 0, 60}, HslAdjust{250, 0, -60}}) {
    for (int red = 0; red < 256; ++red) {
      for (int i = 0; i < kN; ++i) {
        src[3 * i] = static_cast<uint8_t>(i);
        src[3 * i + 1] = static_cast<uint8_t>(i >> 8);
        src[3 * i + 2] = static_cast<uint8_t>(red);
      }
      HueSaturationRowScalar(ref.data(), 3, src.data(), 3, kN, false, a);
      for (const KernelForm& form : kForms) {
        if (!Available(form)) continue;
        form.hsl(out.data(), src.data(), kN, 3, a);
        ASSERT_EQ(out, ref) << form.name << " red " << red << " hue " << a.hue;
      }
    }
  }
}

// Fault caught: a vector sharpen kernel that differs from the scalar kernel
// followed by the brightness table: the box of a channel taken from the wrong
// samples, the difference divided with the wrong rounding or sign, the limits,
// the outer columns, a fourth sample changed, 16-bit samples above 1023 not
// read as 1023 (or written back although outside the filtered columns), the
// last (overlapping) step, short rows, or a brightness constant that does not
// match its table.
TEST(ToneKernelTest, SharpenWithBrightnessEqualsScalarKernelAndTable) {
  const int widths[] = {5, 6, 8, 9, 13, 21, 22, 37, 70};
  const int amounts[] = {1, 3, 10, 17, 30, 39};
  const int brightnesses[] = {0, 20, -20, 255, -255, 1, 51, -99};
  for (const KernelForm& form : kForms) {
    if (!Available(form)) continue;
    for (int bpp : {1, 2, 3, 4, 6, 8}) {
      const bool wide = Wide(bpp);
      const int maxValue = wide ? 1023 : 255;
      const int channels = bpp == 1 || bpp == 2 ? 1 : 3;
      for (int n : widths) {
        std::vector<uint8_t> rows[4];
        for (int r = 0; r < 4; ++r) rows[r] = RandomRow(n, bpp, n * 7 + r + bpp);
        const uint8_t* rowPointers[4] = {rows[0].data(), rows[1].data(), rows[2].data(),
                                         rows[3].data()};
        for (int i = 0; i < 6; ++i) {
          const int amount = amounts[i];
          const int brightness = brightnesses[(i + n + bpp) % 8];
          const SharpenVector sharpen = MakeSharpenVector(amount, maxValue);
          ASSERT_TRUE(sharpen.valid) << amount;
          std::vector<uint8_t> ref = rows[2];
          const std::vector<int> diff = BuildSharpnessTable(amount, maxValue);
          std::vector<int> columnSum(static_cast<size_t>(n) * channels);
          SharpenRowScalar(ref.data(), bpp, rowPointers, bpp, n, channels, wide, diff.data(),
                           columnSum.data());
          const BrightnessVector post = MakeBrightnessVector(brightness, maxValue);
          if (brightness != 0) {
            if (!post.valid) continue;  // the pipeline maps through the table then
            ToneMap map(maxValue);
            map.Then(BuildBrightnessTable(brightness, maxValue));
            map.ApplyRow(ref.data(), ref.data(), n, bpp);
          }
          std::vector<uint8_t> out(ref.size(), 0xEE);
          std::vector<uint16_t> scratch(static_cast<size_t>(n) * bpp + 64);
          form.sharpen(out.data(), rowPointers, n, bpp, sharpen, brightness != 0 ? &post : nullptr,
                       scratch.data());
          ASSERT_EQ(out, ref) << form.name << " bpp " << bpp << " n " << n << " amount " << amount
                              << " brightness " << brightness;
        }
      }
    }
  }
}

// Fault caught: a tone map row that differs from the table lookup of each
// sample: a 16-bit sample above 1023 not read as 1023, a fourth sample
// mapped, the pair lookups of 8-bit rows misaligned, the half of the 8-bit
// table a byte permute reads, or the samples after the last whole (gather or
// permute) step. At the AVX2 level the 8-bit rows take the byte permutes
// where the processor has AVX-512 VBMI.
TEST(ToneKernelTest, MapRowsLookEverySampleUp) {
  for (int bpp : {1, 2, 3, 4, 6, 8}) {
    const int maxValue = Wide(bpp) ? 1023 : 255;
    ToneMap map(maxValue);
    map.Then(BuildGammaTable(70, maxValue));
    map.Then(BuildContrastTable(-30, maxValue));
    for (int n : {1, 3, 4, 5, 8, 15, 16, 17, 33, 100}) {
      const std::vector<uint8_t> src = RandomRow(n, bpp, n + 11 * bpp);
      std::vector<uint8_t> expected = src;
      const int sample = Wide(bpp) ? 2 : 1, samples = bpp / sample;
      for (int x = 0; x < n; ++x) {
        for (int c = 0; c < samples; ++c) {
          if (samples == 4 && c == 3) continue;
          uint8_t* p = expected.data() + x * bpp + c * sample;
          const int v = map.Map(sample == 2 ? p[0] | p[1] << 8 : p[0]);
          p[0] = static_cast<uint8_t>(v);
          if (sample == 2) p[1] = static_cast<uint8_t>(v >> 8);
        }
      }
      for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2}) {
        if (level == SimdLevel::kAvx2 && !HaveAvx2Forms()) continue;
        std::vector<uint8_t> out(src.size(), 0x77);
        map.ApplyRow(out.data(), src.data(), n, bpp, level);
        ASSERT_EQ(out, expected) << "bpp " << bpp << " n " << n << " level "
                                 << static_cast<int>(level);
      }
    }
  }
}

// Fault caught: brightness constants accepted for a value where the fixed
// point formula misses the table somewhere (the formula is what the kernels
// compute), or no constants for the common case of a table that is the exact
// quotient.
TEST(ToneKernelTest, BrightnessConstantsReproduceTheirTable) {
  int valid = 0;
  for (int maxValue : {255, 1023}) {
    for (int b = -255; b <= 255; ++b) {
      const BrightnessVector v = MakeBrightnessVector(b, maxValue);
      if (!v.valid) continue;
      ++valid;
      const std::vector<int> table = BuildBrightnessTable(b, maxValue);
      const uint64_t k = static_cast<uint64_t>(v.kHi) << 16 | v.kLo;
      for (int i = 0; i <= maxValue; ++i) {
        const uint64_t value = std::min<uint64_t>((i * k) >> (16 + v.extraShift), maxValue);
        ASSERT_EQ(value, static_cast<uint64_t>(table[i])) << b << " " << i << " of " << maxValue;
      }
    }
  }
  // Most values have constants; the rest fall back to the table.
  EXPECT_GT(valid, 2 * 511 * 3 / 4);
}

}  // namespace
}  // namespace varnel::test
