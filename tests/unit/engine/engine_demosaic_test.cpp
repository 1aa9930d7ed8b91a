// The engine's demosaic: the vector 5x5 kernels against a plain evaluation of
// the same kernels, and the scalar bilinear form against an independent
// tent-filter reading of its weights.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/color_matrix_stage.h"
#include "engine/engine_demosaic.h"
#include "imaging/cpu_features.h"
#include "engine_test_util.h"

namespace varnel {
namespace {

using enginetest::Bgra;
using enginetest::ColourAt;
using enginetest::MakeColorEngine;
using enginetest::PixelAt;
using enginetest::RandomMosaic;
using enginetest::RowColour;
using enginetest::Submit;

// The 5x5 kernels in sixteenths, [dy + 2][dx + 2].
using Kernel5 = int[5][5];
constexpr Kernel5 kGreenAtRedOrBlue = {
    {0, 0, -2, 0, 0}, {0, 0, 4, 0, 0}, {-2, 4, 8, 4, -2}, {0, 0, 4, 0, 0}, {0, 0, -2, 0, 0}};
// Red at a green sample of a red row (blue at a green sample of a blue row).
constexpr Kernel5 kAlongRow = {
    {0, 0, 1, 0, 0}, {0, -2, 0, -2, 0}, {-2, 8, 10, 8, -2}, {0, -2, 0, -2, 0}, {0, 0, 1, 0, 0}};
constexpr Kernel5 kAlongColumn = {
    {0, 0, -2, 0, 0}, {0, -2, 8, -2, 0}, {1, 0, 10, 0, 1}, {0, -2, 8, -2, 0}, {0, 0, -2, 0, 0}};
constexpr Kernel5 kRedAtBlue = {
    {0, 0, -3, 0, 0}, {0, 4, 0, 4, 0}, {-3, 0, 12, 0, -3}, {0, 4, 0, 4, 0}, {0, 0, -3, 0, 0}};

struct Frame {
  const std::vector<uint8_t>& m;
  int w, h;
  int At(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return 0;  // the margins read as 0
    return m[static_cast<size_t>(y) * w + x];
  }
};

int ApplyKernel(const Frame& f, const Kernel5& k, int x, int y) {
  int sum = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) sum += k[dy + 2][dx + 2] * f.At(x + dx, y + dy);
  }
  return (std::max(sum, 0) + 8) >> 4;
}

int Gain(int v, int gain) { return std::min(255, (v * gain + 64) >> 7); }

// Colour `want` ('R', 'G', 'B') at (x, y) by the kernel its site calls for.
int Interpolate(const Frame& f, int phase, int x, int y, char want) {
  const char site = ColourAt(phase, x, y);
  if (site == want) return f.At(x, y);
  if (want == 'G') return ApplyKernel(f, kGreenAtRedOrBlue, x, y);
  if (site == 'G') {
    return ApplyKernel(f, RowColour(phase, y) == want ? kAlongRow : kAlongColumn, x, y);
  }
  return ApplyKernel(f, kRedAtBlue, x, y);
}

enum class Family { kColorWithMatrix, kColor, kGray };

std::vector<Bgra> ReferenceVector(const std::vector<uint8_t>& m, int w, int h, int phase,
                                  const EngineGains& g, Family family,
                                  const FixedColorMatrix& matrix) {
  const Frame f{m, w, h};
  std::vector<Bgra> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int r = Gain(Interpolate(f, phase, x, y, 'R'), g.red);
      int gr = Gain(Interpolate(f, phase, x, y, 'G'), g.green);
      int b = Gain(Interpolate(f, phase, x, y, 'B'), g.blue);
      if (family == Family::kColorWithMatrix) {
        int in[3] = {r, gr, b}, res[3];
        for (int j = 0; j < 3; ++j) {
          long long pos = 0, neg = 0;
          for (int k = 0; k < 4; ++k) {
            const int e = matrix.At(k, j);
            const long long term =
                k < 3 ? static_cast<long long>(std::abs(e)) * in[k] : std::abs(e);
            (e > 0 ? pos : neg) += term;
          }
          res[j] = static_cast<int>(std::clamp((pos >> 7) - (neg >> 7), 0LL, 255LL));
        }
        r = res[0], gr = res[1], b = res[2];
      } else if (family == Family::kGray) {
        const int v = ((r * 77) >> 8) + ((gr * 150) >> 8) + ((b * 29) >> 8);
        r = gr = b = v;
      }
      out.push_back({b, gr, r, 255});
    }
  }
  return out;
}

struct VectorCase {
  int w, h;
  EngineGains gains;
  // 0: random samples; 1: random 0 or 255; 2: every red 255, every other
  // blue 255 along the blue lattice, green 0, so that red at those blue
  // samples reaches the largest kernel value, 446.
  int pattern = 0;
};

std::vector<uint8_t> CaseMosaic(const VectorCase& c, int phase) {
  auto m = RandomMosaic(c.w, c.h, 1000u + phase * 7u + c.w);
  for (int y = 0; y < c.h; ++y) {
    for (int x = 0; x < c.w; ++x) {
      uint8_t& v = m[static_cast<size_t>(y) * c.w + x];
      if (c.pattern == 1) v = v > 127 ? 255 : 0;
      if (c.pattern == 2) {
        const char colour = ColourAt(phase, x, y);
        v = colour == 'R' ? 255 : colour == 'G' ? 0 : (((x / 2 + y / 2) & 1) ? 0 : 255);
      }
    }
  }
  return m;
}

// Sizes cover whole and partial 16-pixel steps, odd heights and frames too
// small for the bilinear interior; gains above 257 push the product past 16
// bits.
const VectorCase kVectorCases[] = {
    {37, 11, {128, 128, 128}},    {64, 8, {200, 90, 300}},      {16, 5, {400, 128, 1}},
    {5, 5, {128, 140, 128}},      {1, 1, {128, 128, 128}},      {3, 2, {256, 256, 256}},
    {50, 7, {0, 1000, 64}},       {33, 9, {146, 146, 100}, 1},  {33, 9, {64, 100, 127}, 1},
    {24, 12, {146, 146, 146}, 2}, {24, 12, {147, 147, 147}, 2}, {24, 12, {128, 128, 128}, 2},
    {24, 12, {64, 64, 64}, 2},
};

TEST(EngineVectorDemosaic, MatchesKernelEvaluationForEveryPhaseAndFamily) {
  ColorConverter probe;
  if (!probe.UsesVectorForms()) GTEST_SKIP() << "processor without SSE2";
  for (const VectorCase& c : kVectorCases) {
    for (int phase = 0; phase < 4; ++phase) {
      for (Family family : {Family::kColorWithMatrix, Family::kColor, Family::kGray}) {
        const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + " phase " +
                                  std::to_string(phase) + " family " +
                                  std::to_string(static_cast<int>(family));
        auto e = MakeColorEngine(c.w, c.h, true);
        e->SetBayerPhase(phase);
        e->SetRedGain(c.gains.red);
        e->SetGreenGain(c.gains.green);
        e->SetBlueGain(c.gains.blue);
        e->SetColorFlag(family != Family::kGray);
        if (family == Family::kColorWithMatrix) {
          e->SetContrast(3);
          e->SetSaturation(-4);
          e->SetHue(40);
          e->SetBrightness(-20);
        }
        const auto mosaic = CaseMosaic(c, phase);
        ASSERT_TRUE(Submit(*e, mosaic)) << where;
        ColorMatrixStage stage;
        stage.SetContrast(3);
        stage.SetSaturation(-4);
        stage.SetHue(40);
        stage.SetBrightness(-20);
        const auto expected =
            ReferenceVector(mosaic, c.w, c.h, phase, c.gains, family, stage.FixedProduct());
        int mismatches = 0;
        for (int y = 0; y < c.h && mismatches < 3; ++y) {
          for (int x = 0; x < c.w && mismatches < 3; ++x) {
            const Bgra got = PixelAt(e->OutputBuffer(), c.w, x, y);
            const Bgra& want = expected[static_cast<size_t>(y) * c.w + x];
            if (!(got == want)) {
              ++mismatches;
              ADD_FAILURE() << where << " at (" << x << "," << y << "): got " << got.b << ","
                            << got.g << "," << got.r << "," << got.a << " want " << want.b << ","
                            << want.g << "," << want.r;
            }
          }
        }
      }
    }
  }
}

// Fault caught: the AVX2 routines differ from the SSE2 ones (which the test
// above checks against the kernels) for some family, phase, gain mode, width
// around the 32-pixel step (the partial last step, the loads past the row
// into the buffer's slack) or height.
TEST(EngineVectorDemosaic, Avx2GivesTheSse2FrameBitForBit) {
  if (!HaveAvx2Forms()) GTEST_SKIP() << "no AVX2 on this processor or build";
  const int sizes[][2] = {{1, 1},  {5, 3},  {31, 6}, {32, 7},  {33, 5},
                          {47, 4}, {63, 9}, {65, 2}, {100, 11}};
  const EngineGains gains[] = {{128, 128, 128}, {140, 100, 146}, {300, 20, 1000}};
  ColorMatrixStage stage;
  stage.SetContrast(-4);
  stage.SetSaturation(6);
  stage.SetHue(200);
  stage.SetBrightness(35);
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    const std::vector<uint8_t> mosaic = RandomMosaic(w, h, 77u + w * h);
    stage.ResizeWork(w, h);
    stage.CopyIntoWork(mosaic.data(), w);
    for (int phase = 0; phase < 4; ++phase) {
      for (EngineVectorFamily family : {EngineVectorFamily::kColorWithMatrix,
                                        EngineVectorFamily::kColor, EngineVectorFamily::kGray}) {
        for (const EngineGains& g : gains) {
          EngineVectorParams p;
          p.origin = stage.WorkOrigin();
          p.pitch = stage.Pitch();
          p.width = w;
          p.height = h;
          p.gains = g;
          p.matrix = &stage.FixedProduct();
          p.outStride = w * 4;
          std::vector<uint8_t> sse2(static_cast<size_t>(w) * h * 4, 0x3C), avx2 = sse2;
          p.out = sse2.data();
          SelectEngineVectorRoutine(family, phase)(p);
          p.out = avx2.data();
          SelectEngineVectorRoutineAvx2(family, phase)(p);
          ASSERT_EQ(avx2, sse2) << w << "x" << h << " phase " << phase << " family "
                                << static_cast<int>(family) << " gains " << g.red << "/" << g.green
                                << "/" << g.blue;
        }
      }
    }
  }
}

// Bilinear reference: red (blue) at the centre of the 2x2 block whose bottom
// right sample is (x, y) is a tent filter over the samples of that colour,
// weight (4 - |2 dx|) * (4 - |2 dy|) for offsets dx, dy of +-1/2 or +-3/2
// from the centre; green is the mean of the block's two greens.
Bgra ReferenceBilinear(const std::vector<uint8_t>& m, int w, int phase, int x, int y,
                       const EngineGains& g) {
  int sums[2] = {0, 0};  // red, blue
  int greens = 0;
  for (int sy = y - 2; sy <= y + 1; ++sy) {
    for (int sx = x - 2; sx <= x + 1; ++sx) {
      const int v = m[static_cast<size_t>(sy) * w + sx];
      const char c = ColourAt(phase, sx, sy);
      const int twoDx = std::abs(2 * sx - 2 * x + 1);
      const int twoDy = std::abs(2 * sy - 2 * y + 1);
      if (c == 'G') {
        if (twoDx == 1 && twoDy == 1) greens += v;
      } else {
        sums[c == 'R' ? 0 : 1] += (4 - twoDx) * (4 - twoDy) * v;
      }
    }
  }
  auto limited = [](long long product) {
    return product >= 0x80000 ? 255 : static_cast<int>(product >> 11);
  };
  const long long green = static_cast<long long>(g.green) * (greens >> 1);
  return {limited(static_cast<long long>(sums[1]) * g.blue),
          green >= 0x8000 ? 255 : static_cast<int>(green >> 7),
          limited(static_cast<long long>(sums[0]) * g.red), 255};
}

// Fault caught: the engine running its AVX2 routines while they are switched
// off, so that what is timed or compared as the SSE2 form is the AVX2 form.
TEST(EngineVectorDemosaic, Avx2SwitchPicksTheRoutine) {
  ColorConverter engine;
  if (!engine.UsesVectorForms()) GTEST_SKIP() << "processor without SSE2";
  for (const bool allowed : {false, true}) {
    engine.SetAvx2Allowed(allowed);
    const bool avx2 = allowed && HaveAvx2Forms();
    EXPECT_EQ(engine.UsesAvx2(), avx2);
    for (EngineVectorFamily family : {EngineVectorFamily::kColorWithMatrix,
                                      EngineVectorFamily::kColor, EngineVectorFamily::kGray}) {
      for (EnginePhase phase = 0; phase < 4; ++phase) {
        EXPECT_EQ(engine.VectorRoutine(family, phase),
                  avx2 ? SelectEngineVectorRoutineAvx2(family, phase)
                       : SelectEngineVectorRoutine(family, phase))
            << "AVX2 allowed " << allowed << ", family " << static_cast<int>(family) << ", phase "
            << phase;
      }
    }
  }
}

TEST(EngineScalarDemosaic, MatchesTentFilterAndLeavesTheBorder) {
  const struct {
    int w, h;
    EngineGains gains;
  } cases[] = {{23, 17, {128, 128, 128}}, {8, 6, {300, 64, 90}}, {5, 5, {1023, 1023, 1}}};
  for (const auto& c : cases) {
    for (int phase = 0; phase < 4; ++phase) {
      auto e = MakeColorEngine(c.w, c.h, false);
      e->SetBayerPhase(phase);
      e->SetRedGain(c.gains.red);
      e->SetGreenGain(c.gains.green);
      e->SetBlueGain(c.gains.blue);
      const auto mosaic = RandomMosaic(c.w, c.h, 77u + phase);
      ASSERT_TRUE(Submit(*e, mosaic));
      for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) {
          const bool interior = x >= 2 && x <= c.w - 3 && y >= 2 && y <= c.h - 3;
          const Bgra want = interior ? ReferenceBilinear(mosaic, c.w, phase, x, y, c.gains)
                                     : Bgra{255, 255, 255, 255};
          ASSERT_EQ(PixelAt(e->OutputBuffer(), c.w, x, y), want)
              << c.w << "x" << c.h << " phase " << phase << " at " << x << "," << y;
        }
      }
    }
  }
}

// Fault caught: red or blue limited from just above the product 0x80000
// instead of from it, so that a sum x gain of exactly 0x80000 (a flat 128 at
// gain 256) comes out as 256, which wraps round to black; and the same at the
// green limit. A flat frame gives every interior sum its sample x 16 (and the
// green pair twice the sample).
TEST(EngineScalarDemosaic, RedAndBlueSaturateFromTheLimitOn) {
  struct Case {
    int level, redGain, blueGain, greenGain;
    Bgra interior;
  };
  const Case cases[] = {
      {128, 256, 100, 128, {100 * 128 * 16 >> 11, 128, 255, 255}},  // red at 0x80000
      {128, 100, 256, 128, {255, 128, 100 * 128 * 16 >> 11, 255}},  // blue at 0x80000
      {127, 256, 256, 128, {254, 127, 254, 255}},                   // just below
      {128, 255, 255, 256, {255, 255, 255, 255}},                   // green at 0x8000
      {255, 1023, 1023, 1023, {255, 255, 255, 255}},
  };
  for (const Case& c : cases) {
    for (const bool vector : {false, true}) {
      auto e = MakeColorEngine(9, 7, vector);
      if (vector && !e->UsesVectorForms()) continue;
      e->SetRedGain(c.redGain);
      e->SetGreenGain(c.greenGain);
      e->SetBlueGain(c.blueGain);
      ASSERT_TRUE(Submit(*e, std::vector<uint8_t>(9 * 7, static_cast<uint8_t>(c.level))));
      EXPECT_EQ(PixelAt(e->OutputBuffer(), 9, 4, 3), c.interior)
          << "level " << c.level << " gains " << c.redGain << "/" << c.greenGain << "/"
          << c.blueGain << (vector ? " vector" : " scalar");
    }
  }
}

TEST(EngineScalarDemosaic, TwoGreenAverageWhenColourIsOff) {
  auto e = MakeColorEngine(9, 7, false);
  e->SetColorFlag(false);
  e->SetBayerPhase(2);  // R G / G B: the block at odd x, odd y holds G at (x, y-1) and (x-1, y)
  const auto mosaic = RandomMosaic(9, 7, 5);
  ASSERT_TRUE(Submit(*e, mosaic));
  const int x = 3, y = 3;
  const int v = (mosaic[(y - 1) * 9 + x] + mosaic[y * 9 + x - 1]) >> 1;
  EXPECT_EQ(PixelAt(e->OutputBuffer(), 9, x, y), (Bgra{v, v, v, 255}));
  EXPECT_EQ(PixelAt(e->OutputBuffer(), 9, 1, 1), (Bgra{255, 255, 255, 255}));
}

// Default gains (128 each) must not tint a gray scene on either path.
TEST(EngineDemosaic, DefaultGainsAreNeutralOnBothPaths) {
  ColorConverter probe;
  for (bool vector : {false, true}) {
    if (vector && !probe.UsesVectorForms()) continue;
    for (int v : {0, 1, 97, 128, 200, 255}) {
      auto e = MakeColorEngine(20, 12, vector);
      ASSERT_TRUE(Submit(*e, std::vector<uint8_t>(240, static_cast<uint8_t>(v))));
      for (int y = 2; y <= 9; ++y) {
        for (int x = 2; x <= 17; ++x) {
          ASSERT_EQ(PixelAt(e->OutputBuffer(), 20, x, y), (Bgra{v, v, v, 255}))
              << (vector ? "vector" : "scalar") << " v=" << v << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(EngineGrayConverter, WeightsTheBilinearColours) {
  // Red 200, green 100, blue 50: (100*59 + 50*11 + 200*30 + 50) / 100 = 125,
  // in the 8-bit image (format 1) or as gray 32-bit pixels (format 5), from
  // 8-bit samples or from the first bytes of 16-bit samples.
  const int w = 10, h = 8;
  for (int format : {kEngineFormatGray8, kEngineFormatBgra32}) {
    for (bool eightBit : {true, false}) {
      for (int phase = 0; phase < 4; ++phase) {
        GrayConverter e;
        e.SetSize(w, h);
        e.SetFormat(format);
        e.SetEightBitRaw(eightBit);
        e.SetBayerPhase(phase);
        ASSERT_TRUE(e.Allocate());
        const auto planes = enginetest::PlaneMosaic(w, h, phase, 200, 100, 50);
        std::vector<uint8_t> frame;
        for (uint8_t v : planes) {
          frame.push_back(v);
          if (!eightBit) frame.push_back(0xA5);
        }
        ASSERT_TRUE(Submit(e, frame));
        const uint8_t* px = e.GetImageBuffer();
        const int stride = e.GetStride();
        const int bpp = format == kEngineFormatGray8 ? 1 : 4;
        EXPECT_EQ(stride, format == kEngineFormatGray8 ? 12 : 40);
        for (const auto& [x, y] : {std::pair{4, 3}, std::pair{7, 5}}) {
          for (int c = 0; c < std::min(bpp, 3); ++c) {
            EXPECT_EQ(px[y * stride + x * bpp + c], 125) << format << " phase " << phase;
          }
        }
        EXPECT_EQ(px[1 * stride + 4 * bpp], format == kEngineFormatGray8 ? 0 : 255)
            << "the border keeps what Allocate gave it";
      }
    }
  }
}

}  // namespace
}  // namespace varnel
