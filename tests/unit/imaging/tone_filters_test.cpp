// Hue and saturation, gamma, contrast, sharpness and brightness.
#include <gtest/gtest.h>

#include <algorithm>

#include "image_buffers.h"
#include "imaging/pixel_routines.h"
#include "imaging/tone_tables.h"

namespace varnel::test {
namespace {

TEST(GammaTableTest, KnownPoints) {
  struct Case {
    int gamma, input, output;
  };
  const Case cases[] = {{200, 1, 1},    {200, 200, 17}, {200, 254, 244}, {50, 1, 15},
                        {50, 128, 180}, {0, 1, 253},    {0, 0, 0},       {150, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(BuildGammaTable(c.gamma, 255)[c.input], c.output) << c.gamma << " " << c.input;
  }
  EXPECT_DOUBLE_EQ(GammaExponent(200), 11.0);
  EXPECT_DOUBLE_EQ(GammaExponent(0), 0.001);
}

TEST(GammaTableTest, TopMapsTo254AndGamma0LiftsEverythingToTheTop) {
  for (int gamma : {0, 1, 37, 50, 99, 100, 101, 150, 200}) {
    EXPECT_EQ(BuildGammaTable(gamma, 255)[255], 254) << gamma;
  }
  const auto zero = BuildGammaTable(0, 255);
  for (int i = 1; i <= 255; ++i) EXPECT_TRUE(zero[i] == 253 || zero[i] == 254) << i;
  // The 10-bit table is monotonic and ends one below its top as well.
  const auto wide = BuildGammaTable(60, 1023);
  EXPECT_EQ(wide[1023], 1022);
  EXPECT_TRUE(std::is_sorted(wide.begin(), wide.end()));
}

TEST(ContrastTableTest, ClipsBothEndsAndStretchesTheMiddle) {
  const auto up = BuildContrastTable(100, 255);
  EXPECT_EQ(up[99], 0);
  EXPECT_EQ(up[100], 0);
  EXPECT_EQ(up[155], 251);  // 256 / 56 x 55, truncated
  EXPECT_EQ(up[156], 255);
  const auto none = BuildContrastTable(0, 255);
  for (int i = 0; i <= 255; ++i) EXPECT_EQ(none[i], i);
  const auto down = BuildContrastTable(-127, 255);
  EXPECT_EQ(down[0], 63);  // 256 / 510 x 127
  EXPECT_EQ(down[255], 191);
  const auto wide = BuildContrastTable(100, 1023);
  EXPECT_EQ(wide[399], 0);
  EXPECT_EQ(wide[624], 1023);
  // Out-of-range values are taken as the nearest end instead of dividing by 0.
  EXPECT_EQ(BuildContrastTable(128, 255), BuildContrastTable(127, 255));
}

TEST(BrightnessTableTest, FactorBetweenBlackAndElevenfold) {
  const auto black = BuildBrightnessTable(-255, 255);
  EXPECT_TRUE(std::all_of(black.begin(), black.end(), [](int v) { return v == 0; }));
  const auto bright = BuildBrightnessTable(255, 255);
  EXPECT_EQ(bright[20], 220);
  EXPECT_EQ(bright[23], 253);
  EXPECT_EQ(bright[24], 255);
  EXPECT_EQ(BuildBrightnessTable(-51, 255)[100], 80);
  EXPECT_EQ(BuildBrightnessTable(51, 255)[100], 255);  // 3 x 100, limited
  EXPECT_EQ(BuildBrightnessTable(51, 255)[80], 240);
  EXPECT_EQ(BuildBrightnessTable(255, 1023)[90], 990);
  EXPECT_EQ(BuildBrightnessTable(255, 1023)[94], 1023);
}

// The routines map through the tables; colour forms leave the fourth byte,
// 16-bit forms read samples above 1023 as 1023.
TEST(ToneRoutineTest, FormsMapTheirSamplesOnly) {
  int contrast = 100;
  Plane colour(3, 2, 4, 0);
  for (int i = 0; i < 3 * 2; ++i) {
    uint8_t* p = colour.Pixel(i % 3, i / 3);
    p[0] = 50, p[1] = 128, p[2] = 200, p[3] = 7;
  }
  ASSERT_EQ(Apply(ContrastBgr8Routine, colour, colour, &contrast), 1);
  const auto table = BuildContrastTable(contrast, 255);
  for (int i = 0; i < 3 * 2; ++i) {
    const uint8_t* p = colour.Pixel(i % 3, i / 3);
    EXPECT_EQ(p[0], table[50]);
    EXPECT_EQ(p[1], table[128]);
    EXPECT_EQ(p[2], table[200]);
    EXPECT_EQ(p[3], 7);
  }
  Plane mono16(3, 3, 2);  // odd width: rows step by the stride
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x)
      mono16.SetSample16(x, y, static_cast<uint16_t>(x == 2 ? 65535 : 500));
  }
  int gamma = 60;
  ASSERT_EQ(Apply(GammaMono16Routine, mono16, mono16, &gamma), 1);
  const auto g = BuildGammaTable(gamma, 1023);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(mono16.Sample16(0, y), g[500]);
    EXPECT_EQ(mono16.Sample16(2, y), g[1023]);
  }
  int brightness = 100;
  Plane wide(2, 1, 8);
  for (int c = 0; c < 4; ++c) wide.SetSample16(0, 0, static_cast<uint16_t>(100 + c), c);
  ASSERT_EQ(Apply(BrightnessBgr16Routine, wide, wide, &brightness), 1);
  EXPECT_EQ(wide.Sample16(0, 0, 0), BuildBrightnessTable(brightness, 1023)[100]);
  EXPECT_EQ(wide.Sample16(0, 0, 3), 103);
  EXPECT_EQ(Apply(GammaBgr8Routine, colour, colour, static_cast<int*>(nullptr)), 0);
}

// Sharpness a: out = s + a * (s - blur) / 10, blur the mean of the 4x4 block
// at columns x-2..x+1 and rows y-2..y+1 of the copy; outer two rows and
// columns unchanged.
TEST(SharpnessTest, AddsTheScaledDifferenceToTheBoxMean) {
  const Plane copy = RandomMosaic(11, 9, 4);
  for (int amount : {10, 5, 30}) {
    Plane out(11, 9, 1, 0x33);
    ASSERT_EQ(Apply(SharpnessMono8Routine, out, copy, &amount), 1);
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 11; ++x) {
        if (x < 2 || x > 8 || y < 2 || y > 6) {
          EXPECT_EQ(out.At(x, y), 0x33);
          continue;
        }
        int sum = 0;
        for (int j = y - 2; j <= y + 1; ++j) {
          for (int i = x - 2; i <= x + 1; ++i) sum += copy.At(i, j);
        }
        const int s = copy.At(x, y);
        const int expected = std::clamp(s + amount * (s - (sum >> 4)) / 10, 0, 255);
        EXPECT_EQ(out.At(x, y), expected) << amount << " at " << x << "," << y;
      }
    }
  }
}

TEST(SharpnessTest, ColourAndDeepFormsWorkPerChannel) {
  // A uniform colour stays as it is (the difference to the mean is 0), also
  // with deep samples above 1023, which are read as 1023.
  Plane colour(7, 6, 3, 90), out(7, 6, 3, 0);
  int amount = 10;
  Apply(SharpnessBgr8Routine, out, colour, &amount);
  EXPECT_EQ(out.At(3, 3, 1), 90);
  Plane deep(6, 6, 6), deepOut(6, 6, 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      for (int c = 0; c < 3; ++c)
        deep.SetSample16(x, y, static_cast<uint16_t>(c == 0 ? 4000 : 512), c);
    }
  }
  Apply(SharpnessBgr16Routine, deepOut, deep, &amount);
  EXPECT_EQ(deepOut.Sample16(2, 2, 0), 1023);
  EXPECT_EQ(deepOut.Sample16(3, 3, 1), 512);
  EXPECT_EQ(deepOut.Sample16(0, 0, 1), 0);
}

struct Bgr {
  int b, g, r;
};
Bgr HueSat(Bgr in, int hue, int saturation, bool wide = false) {
  HslAdjust adjust{hue, 0, saturation};
  if (!wide) {
    Plane p(1, 1, 3);
    p.At(0, 0, 0) = static_cast<uint8_t>(in.b);
    p.At(0, 0, 1) = static_cast<uint8_t>(in.g);
    p.At(0, 0, 2) = static_cast<uint8_t>(in.r);
    Apply(HueSaturationBgr8Routine, p, p, &adjust);
    return {p.At(0, 0, 0), p.At(0, 0, 1), p.At(0, 0, 2)};
  }
  Plane p(1, 1, 6);
  p.SetSample16(0, 0, static_cast<uint16_t>(in.b), 0);
  p.SetSample16(0, 0, static_cast<uint16_t>(in.g), 1);
  p.SetSample16(0, 0, static_cast<uint16_t>(in.r), 2);
  Apply(HueSaturationBgr16Routine, p, p, &adjust);
  return {p.Sample16(0, 0, 0), p.Sample16(0, 0, 1), p.Sample16(0, 0, 2)};
}

TEST(HueSaturationTest, GrayStaysGrayUnderAnyHueShift) {
  for (int level : {0, 1, 127, 128, 200, 255}) {
    for (int hue : {-360, -200, -1, 1, 90, 180, 359, 360}) {
      const Bgr out = HueSat({level, level, level}, hue, 0);
      EXPECT_TRUE(out.b == level && out.g == level && out.r == level) << level << " " << hue;
      const Bgr deep = HueSat({level * 4 + 3, level * 4 + 3, level * 4 + 3}, hue, 0, true);
      EXPECT_TRUE(deep.b == level * 4 && deep.g == level * 4 && deep.r == level * 4)
          << level << " " << hue;
    }
  }
}

TEST(HueSaturationTest, WorkedExamples) {
  struct Case {
    Bgr in;
    int hue, saturation;
    Bgr expected;
  };
  const Case cases[] = {
      // Pure red: l 127, s 255, q 253, p 1.
      {{0, 0, 255}, 0, 0, {1, 1, 253}},
      {{0, 0, 255}, 120, 0, {1, 253, 1}},       // a third of the circle on: green
      {{0, 0, 255}, 0, -255, {127, 127, 127}},  // no saturation left: gray at l
      // Hue -32 stays negative after one wrap (-392 + 360): blue reads a
      // negative remainder and takes p.
      {{128, 0, 255}, -360, 0, {1, 1, 253}},
  };
  for (const Case& c : cases) {
    const Bgr out = HueSat(c.in, c.hue, c.saturation);
    EXPECT_EQ(out.b, c.expected.b) << c.hue << "/" << c.saturation;
    EXPECT_EQ(out.g, c.expected.g) << c.hue << "/" << c.saturation;
    EXPECT_EQ(out.r, c.expected.r) << c.hue << "/" << c.saturation;
  }
}

}  // namespace
}  // namespace varnel::test
