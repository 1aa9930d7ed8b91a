// The colour matrix: building each adjustment, the order of the product, the
// fixed-point copy and its use with separate positive and negative sums.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "engine/color_matrix_stage.h"
#include "engine_test_util.h"

namespace varnel {
namespace {

std::array<float, 3> Transform(const ColorMatrix& m, float r, float g, float b) {
  std::array<float, 3> out{};
  for (int j = 0; j < 3; ++j) out[j] = r * m.m[0][j] + g * m.m[1][j] + b * m.m[2][j] + m.m[3][j];
  return out;
}

float Luminance(const std::array<float, 3>& c) {
  return 0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2];
}

TEST(ColorMatrix, ZeroSettingsGiveIdentityAndSkipTheMatrix) {
  ColorMatrixStage stage;
  // Set and reset every value: the product must come back to the identity.
  stage.SetContrast(4);
  stage.SetBrightness(-30);
  stage.SetSaturation(7);
  stage.SetHue(200);
  EXPECT_TRUE(stage.IsActive());
  stage.SetContrast(0);
  stage.SetBrightness(0);
  stage.SetSaturation(0);
  stage.SetHue(0);
  EXPECT_FALSE(stage.IsActive());
  EXPECT_TRUE(stage.FixedProduct().IsIdentity());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(stage.IsPositive(i), i % 5 == 0) << i;
}

TEST(ColorMatrix, AdjustmentsMapKnownColours) {
  struct Case {
    const char* what;
    ColorMatrix m;
    std::array<float, 3> in, want;
  };
  const float l = 0.3086f * 200 + 0.6094f * 50 + 0.082f * 10;
  const Case cases[] = {
      // Contrast +10: c = 2 about 128, so 128 stays and 192 becomes 256.
      {"contrast +10", ColorMatrixStage::BuildContrast(10), {128, 192, 64}, {128, 256, 0}},
      {"contrast -10", ColorMatrixStage::BuildContrast(-10), {0, 255, 30}, {128, 128, 128}},
      // Values beyond +-10 are limited to +-10.
      {"contrast 25", ColorMatrixStage::BuildContrast(25), {192, 128, 0}, {256, 128, -128}},
      {"brightness 40", ColorMatrixStage::BuildBrightness(40), {0, 100, 250}, {40, 140, 290}},
      {"brightness 900", ColorMatrixStage::BuildBrightness(900), {0, 0, 0}, {255, 255, 255}},
      {"brightness -900", ColorMatrixStage::BuildBrightness(-900), {0, 0, 0}, {-255, -255, -255}},
      // Saturation -10 leaves the weighted luminance in every channel.
      {"saturation -10", ColorMatrixStage::BuildSaturation(-10), {200, 50, 10}, {l, l, l}},
      {"saturation 0", ColorMatrixStage::BuildSaturation(0), {200, 50, 10}, {200, 50, 10}},
      {"hue 0", ColorMatrixStage::BuildHue(0), {200, 50, 10}, {200, 50, 10}},
      {"hue 360", ColorMatrixStage::BuildHue(360), {200, 50, 10}, {200, 50, 10}},
  };
  for (const Case& c : cases) {
    const auto got = Transform(c.m, c.in[0], c.in[1], c.in[2]);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(got[j], c.want[j], 0.05f) << c.what << " channel " << j;
  }
}

TEST(ColorMatrix, HueRotationKeepsLuminanceAndComposes) {
  const std::array<float, 3> colours[] = {
      {255, 0, 0}, {30, 200, 90}, {12, 12, 240}, {128, 128, 128}};
  for (int degrees : {30, 90, 120, 200, 359}) {
    const ColorMatrix h = ColorMatrixStage::BuildHue(degrees);
    for (const auto& c : colours) {
      EXPECT_NEAR(Luminance(Transform(h, c[0], c[1], c[2])), Luminance(c), 0.05f) << degrees;
    }
    // Turning by a and then by b is turning by a + b.
    const ColorMatrix twice = h * ColorMatrixStage::BuildHue(60);
    const ColorMatrix direct = ColorMatrixStage::BuildHue(degrees + 60);
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) EXPECT_NEAR(twice.m[i][j], direct.m[i][j], 1e-4f) << degrees;
    }
  }
  // A gray stays gray under any hue.
  const auto gray = Transform(ColorMatrixStage::BuildHue(137), 90, 90, 90);
  for (float v : gray) EXPECT_NEAR(v, 90.0f, 0.05f);
}

TEST(ColorMatrix, ProductAppliesHueSaturationBrightnessThenContrast) {
  ColorMatrixStage stage;
  stage.SetBrightness(10);
  stage.SetContrast(10);
  // Brightness first: (100 + 10) * 2 - 128 = 92; the other order would give
  // 100 * 2 - 128 + 10 = 82.
  const auto got = Transform(stage.Product(), 100, 100, 100);
  for (float v : got) EXPECT_NEAR(v, 92.0f, 0.01f);

  ColorMatrixStage satThenContrast;
  satThenContrast.SetSaturation(-10);
  satThenContrast.SetContrast(10);
  // Gray of (200, 50, 10) first, then contrast about 128.
  const float l = 0.3086f * 200 + 0.6094f * 50 + 0.082f * 10;
  const auto got2 = Transform(satThenContrast.Product(), 200, 50, 10);
  for (float v : got2) EXPECT_NEAR(v, 2 * l - 128, 0.05f);
}

TEST(ColorMatrix, FixedPointRoundsHalfToEven) {
  ColorMatrix m;
  const float entries[][2] = {{0.5f / 128, 0},   {1.5f / 128, 2},   {2.5f / 128, 2},
                              {-1.5f / 128, -2}, {-2.5f / 128, -2}, {1.0f, 128},
                              {0.7f / 128, 1},   {382.0f, 48896}};
  for (size_t i = 0; i < std::size(entries); ++i) m.m[i / 4][i % 4] = entries[i][0];
  const FixedColorMatrix f = ColorMatrixStage::ToFixed(m);
  for (size_t i = 0; i < std::size(entries); ++i) {
    EXPECT_EQ(f.entry[i], static_cast<int32_t>(entries[i][1])) << "entry " << i;
  }
}

// Strong contrast and saturation give entries near 3.4 x 128; with inputs
// of 255 the positive sum passes 65535 and a 16-bit sum would wrap round to
// black. The sums are wide, so white stays white.
TEST(ColorMatrix, WideSumsDoNotWrap) {
  ColorMatrixStage stage;
  stage.SetContrast(10);
  stage.SetSaturation(10);
  const FixedColorMatrix& f = stage.FixedProduct();
  int64_t positiveRed = 0;
  for (int k = 0; k < 3; ++k) positiveRed += f.At(k, 0) > 0 ? int64_t{f.At(k, 0)} * 255 : 0;
  ASSERT_GT(positiveRed, 65535) << "the case must be one that a 16-bit sum would wrap";

  const struct {
    int in[3];
    int want[3];
  } cases[] = {{{255, 255, 255}, {255, 255, 255}},
               {{128, 128, 128}, {128, 128, 128}},
               {{0, 0, 0}, {0, 0, 0}},
               {{255, 0, 0}, {255, 0, 0}}};
  for (const auto& c : cases) {
    int out[3];
    f.Apply(c.in[0], c.in[1], c.in[2], &out[0], &out[1], &out[2]);
    for (int j = 0; j < 3; ++j)
      EXPECT_EQ(out[j], c.want[j]) << c.in[0] << "," << c.in[1] << "," << c.in[2];
  }

  // A brightness of 255 with contrast 10 puts 48896 in the offset row, past
  // the 16-bit range: a black input still becomes white.
  ColorMatrixStage bright;
  bright.SetBrightness(255);
  bright.SetContrast(10);
  EXPECT_EQ(bright.FixedProduct().At(3, 0), 48896);
  int out[3];
  bright.FixedProduct().Apply(0, 0, 0, &out[0], &out[1], &out[2]);
  EXPECT_EQ(out[0], 255);
}

// The same strong settings through the vector demosaic: a white frame stays
// white in the interior.
TEST(ColorMatrix, VectorDemosaicKeepsWhiteUnderStrongContrastAndSaturation) {
  auto e = enginetest::MakeColorEngine(32, 8, true);
  if (!e->UsesVectorForms()) GTEST_SKIP() << "processor without SSE2";
  e->SetContrast(10);
  e->SetSaturation(10);
  ASSERT_TRUE(enginetest::Submit(*e, std::vector<uint8_t>(32 * 8, 255)));
  for (int x = 2; x < 30; ++x) {
    EXPECT_EQ(enginetest::PixelAt(e->OutputBuffer(), 32, x, 4),
              (enginetest::Bgra{255, 255, 255, 255}))
        << x;
  }
}

}  // namespace
}  // namespace varnel
