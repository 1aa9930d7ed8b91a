// Gray-mode gains and offsets, and the automatic gray gains.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "image_buffers.h"
#include "imaging/cpu_features.h"
#include "imaging/gray_gain.h"
#include "imaging/pixel_routines.h"

namespace varnel::test {
namespace {

GrayGains MakeGains(int phase, int r, int g1, int g2, int b, int or_ = 0, int og1 = 0, int og2 = 0,
                    int ob = 0) {
  return GrayGains{phase, {r, g1, g2, b}, {or_, og1, og2, ob}};
}

// The placement of the four channels per phase, as tabled: row 0 even and odd
// column, then row 1 even and odd column.
TEST(GrayGainsTest, ChannelPlacementFollowsThePhaseTable) {
  const char* expected[4] = {"G1 R B G2", "B G2 G1 R", "R G1 G2 B", "G2 B R G1"};
  // Gains that make each channel recognisable on a uniform 128 frame.
  const GrayGains base = MakeGains(0, 10, 20, 30, 40);
  const char* names[] = {"R", "G1", "G2", "B"};
  for (int phase = 0; phase < 4; ++phase) {
    GrayGains g = base;
    g.phase = phase;
    const Plane raw(4, 4, 1, 128);
    Plane out(4, 4, 1);
    ASSERT_EQ(Apply(GrayGainsScalarRoutine, out, raw, &g), 1);
    std::string seen;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 2; ++x) {
        const int ch = static_cast<int>(std::find(g.gain, g.gain + 4, out.At(x, y)) - g.gain);
        ASSERT_LT(ch, 4);
        seen += std::string(seen.empty() ? "" : " ") + names[ch];
        // The pattern repeats every two rows and columns.
        EXPECT_EQ(out.At(x + 2, y + 2), out.At(x, y));
      }
    }
    EXPECT_EQ(seen, expected[phase]) << "phase " << phase;
  }
}

TEST(GrayGainsTest, GainThenOffsetClampedToTheSampleRange) {
  struct Case {
    int sample, gain, offset, expected;
  };
  const Case cases[] = {
      {100, 128, 0, 100}, {100, 64, 0, 50},    {101, 64, 0, 50},    {200, 255, 0, 255},
      {100, 0, 0, 0},     {100, 128, -255, 0}, {100, 128, 30, 130}, {250, 128, 10, 255},
      {0, 200, 255, 255}, {3, 129, -1, 2},
  };
  for (const Case& c : cases) {
    const Plane raw(2, 2, 1, static_cast<uint8_t>(c.sample));
    Plane out(2, 2, 1);
    GrayGains g =
        MakeGains(0, c.gain, c.gain, c.gain, c.gain, c.offset, c.offset, c.offset, c.offset);
    Apply(GrayGainsScalarRoutine, out, raw, &g);
    EXPECT_EQ(out.At(1, 1), c.expected) << c.sample << " x " << c.gain << " + " << c.offset;
  }
}

struct GrayFormCase {
  std::string name;
  RegionRoutine routine;
  bool (*built)();
  int32_t bit;
  friend void PrintTo(const GrayFormCase& c, std::ostream* os) { *os << c.name; }
};

class VectorGrayGainsTest : public ::testing::TestWithParam<GrayFormCase> {
 protected:
  void SetUp() override {
    CpuFeatures cpu{};
    DetectCpuFeatures(&cpu);
    if (!GetParam().built() || !CpuUsable(cpu, GetParam().bit)) {
      GTEST_SKIP() << GetParam().name << " is not available on this processor or build";
    }
  }
};

// The vector forms keep offsets and all four phases: identical to scalar,
// also on odd widths (the scalar tail) and padded strides.
TEST_P(VectorGrayGainsTest, IdenticalToScalar) {
  const int sizes[][2] = {{1, 1}, {7, 3}, {16, 2}, {33, 5}, {64, 4}};
  const GrayGains gains[] = {MakeGains(0, 140, 128, 100, 255, 0, 0, 0, 0),
                             MakeGains(1, 0, 255, 77, 128, -255, 255, 13, -7),
                             MakeGains(2, 129, 127, 3, 250, 40, -40, 0, 100),
                             MakeGains(3, 255, 255, 255, 255, -100, -200, 100, 200)};
  for (const auto& size : sizes) {
    const Plane raw = RandomMosaic(size[0], size[1], size[0] * 7 + size[1], 255, 4);
    for (GrayGains g : gains) {
      Plane ref(size[0], size[1], 1, 0xEE, 4), out(size[0], size[1], 1, 0xEE, 4);
      Apply(GrayGainsScalarRoutine, ref, raw, &g);
      Apply(GetParam().routine, out, raw, &g);
      ASSERT_EQ(out.bytes, ref.bytes) << size[0] << "x" << size[1] << " phase " << g.phase;
    }
  }
}

TEST_P(VectorGrayGainsTest, InPlaceAndGainsAbove255GiveTheScalarResult) {
  Plane a = RandomMosaic(45, 6, 3), b = a;
  for (GrayGains g : {MakeGains(2, 300, 128, 128, 128, 5), MakeGains(0, 400, -3, 128, 0)}) {
    Apply(GrayGainsScalarRoutine, a, a, &g);
    Apply(GetParam().routine, b, b, &g);
    ASSERT_EQ(a.bytes, b.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, VectorGrayGainsTest,
    ::testing::Values(GrayFormCase{"mmx", GrayGainsMmxRoutine, HaveGrayGainsMmx, kCpuMmx},
                      GrayFormCase{"sse2", GrayGainsSse2Routine, HaveGrayGainsSse2, kCpuSse2}),
    [](const auto& info) { return info.param.name; });

// Automatic gray gains scale every channel to G1's mean.
TEST(AutoGrayGainsTest, GainsBringEveryChannelToTheG1Mean) {
  // Phase 0: G1 R / B G2.
  Plane raw(6, 4, 1);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const int values[2][2] = {{100, 50}, {200, 80}};  // G1 R / B G2
      raw.At(x, y) = static_cast<uint8_t>(values[y & 1][x & 1]);
    }
  }
  GrayGains g = MakeGains(0, 1, 2, 3, 4, 9, 9, 9, 9);
  Plane unused(1, 1, 1);
  EXPECT_EQ(Apply(MeasureGrayGainsRoutine, unused, raw, &g), 1);
  EXPECT_EQ(g.gain[GrayGains::kG1], 128);
  EXPECT_EQ(g.gain[GrayGains::kR], 255);  // 100/50*128 = 256, limited to the settable 255
  EXPECT_EQ(g.gain[GrayGains::kB], 64);
  EXPECT_EQ(g.gain[GrayGains::kG2], 160);
  EXPECT_EQ(g.offset[0], 9) << "offsets are not measured";
}

TEST(AutoGrayGainsTest, ChannelWithoutLightKeepsThePreviousGains) {
  Plane raw(4, 4, 1, 0);
  raw.At(0, 0) = 90;  // only G1 has light
  GrayGains g = MakeGains(0, 11, 22, 33, 44);
  Plane unused(1, 1, 1);
  EXPECT_EQ(Apply(MeasureGrayGainsRoutine, unused, raw, &g), 0);
  EXPECT_EQ(g.gain[0], 11);
  EXPECT_EQ(g.gain[3], 44);
}

}  // namespace
}  // namespace varnel::test
