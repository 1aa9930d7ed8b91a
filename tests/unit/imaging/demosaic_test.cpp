// Bayer demosaic: the 8-bit interior in its three forms, the border, and the
// deep forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdlib>
#include <string>
#include <tuple>

#include "image_buffers.h"
#include "imaging/cpu_features.h"
#include "imaging/demosaic.h"
#include "imaging/pixel_routines.h"

namespace varnel::test {
namespace {

BayerGains Gains(int phase, int red = 100, int green = 100, int blue = 100) {
  return BayerGains{phase, red, green, blue};
}

// Demosaics `raw` into a fresh destination filled with `fill`.
Plane Demosaic(RegionRoutine interior, const Plane& raw, BayerGains gains, int dstBpp = 3,
               bool border = true, uint8_t fill = 0) {
  Plane out(raw.width, raw.height, dstBpp, fill);
  if (interior != nullptr) Apply(interior, out, raw, &gains);
  if (border) Apply(DemosaicBorderRoutine, out, raw, &gains);
  return out;
}

// The sums of the written-out phase-0 example at even y: at even x, green from
// (x-1, y-1) and (x, y), red around (x, y-1), blue around (x-1, y); at odd x,
// green from (x-1, y) and (x, y-1), red around (x-1, y-1), blue around (x, y).
struct Sums {
  int red, green, blue;
};
Sums Phase0ExampleSums(const Plane& m, int x, int y) {
  auto s = [&](int px, int py) { return static_cast<int>(m.At(px, py)); };
  if (x % 2 == 0) {
    return {9 * s(x, y - 1) + 3 * s(x - 2, y - 1) + 3 * s(x, y + 1) + s(x - 2, y + 1),
            (s(x - 1, y - 1) + s(x, y)) >> 1,
            9 * s(x - 1, y) + 3 * s(x + 1, y) + 3 * s(x - 1, y - 2) + s(x + 1, y - 2)};
  }
  return {9 * s(x - 1, y - 1) + 3 * s(x + 1, y - 1) + 3 * s(x - 1, y + 1) + s(x + 1, y + 1),
          (s(x - 1, y) + s(x, y - 1)) >> 1,
          9 * s(x, y) + 3 * s(x - 2, y) + 3 * s(x, y - 2) + s(x - 2, y - 2)};
}
int ScalarGain(int sum, int gain) {
  const int64_t v = static_cast<int64_t>(sum) * (gain * 128 / 100);
  return v > 0x7FFFF ? 255 : static_cast<int>(v >> 11);
}
int VectorGain(int sum, int gain) { return std::min(255, ((sum >> 4) * (gain * 128 / 100)) >> 7); }

TEST(DemosaicTest, UniformFrameKeepsItsValueInInteriorAndBorder) {
  const int sizes[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 5}, {7, 9}, {37, 21}};
  for (const auto& size : sizes) {
    for (int phase = 0; phase < 4; ++phase) {
      for (int value : {0, 77, 255}) {
        const Plane raw(size[0], size[1], 1, static_cast<uint8_t>(value));
        const Plane out = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(phase));
        for (int y = 0; y < raw.height; ++y) {
          for (int x = 0; x < raw.width; ++x) {
            for (int c = 0; c < 3; ++c) {
              ASSERT_EQ(out.At(x, y, c), value) << size[0] << "x" << size[1] << " phase " << phase
                                                << " at " << x << "," << y << " channel " << c;
            }
          }
        }
      }
    }
  }
}

TEST(DemosaicTest, Phase0InteriorFollowsTheWrittenOutFormulas) {
  const Plane raw = RandomMosaic(14, 12, 7);
  for (const auto& [red, blue] : {std::pair{100, 100}, {150, 70}, {400, 0}, {37, 199}}) {
    const Plane out =
        Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(0, red, 100, blue), 3, false);
    for (int y = 2; y <= raw.height - 3; y += 2) {
      for (int x = 2; x <= raw.width - 3; ++x) {
        const Sums s = Phase0ExampleSums(raw, x, y);
        EXPECT_EQ(out.At(x, y, 0), ScalarGain(s.blue, blue)) << x << "," << y;
        EXPECT_EQ(out.At(x, y, 1), s.green) << x << "," << y;
        EXPECT_EQ(out.At(x, y, 2), ScalarGain(s.red, red)) << x << "," << y;
      }
    }
  }
}

// Phase p read on a mosaic is phase 0 read on the mosaic moved by the rows
// and columns that p exchanges.
TEST(DemosaicTest, EveryPhaseIsPhase0OnTheShiftedMosaic) {
  const Plane raw = RandomMosaic(23, 19, 11);
  for (int phase = 1; phase < 4; ++phase) {
    const int dx = (phase >> 1) & 1, dy = phase & 1;
    Plane shifted(raw.width - dx, raw.height - dy, 1);
    for (int y = 0; y < shifted.height; ++y) {
      for (int x = 0; x < shifted.width; ++x) shifted.At(x, y) = raw.At(x + dx, y + dy);
    }
    const Plane out =
        Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(phase, 130, 100, 90), 3, false);
    const Plane ref =
        Demosaic(DemosaicInteriorScalarRoutine, shifted, Gains(0, 130, 100, 90), 3, false);
    for (int y = 3; y <= shifted.height - 3; ++y) {
      for (int x = 3; x <= shifted.width - 3; ++x) {
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(out.At(x, y, c), ref.At(x - dx, y - dy, c))
              << "phase " << phase << " at " << x << "," << y << " channel " << c;
        }
      }
    }
  }
}

// The border reads a sample outside the image from 4 rows or columns further
// in; the same result comes from running the interior on a mosaic padded by 2
// with those samples.
TEST(DemosaicTest, BorderEqualsInteriorOnThePaddedMosaic) {
  const int sizes[][2] = {{5, 5}, {8, 6}, {11, 9}};
  for (const auto& size : sizes) {
    const Plane raw = RandomMosaic(size[0], size[1], 3 + size[0]);
    auto inside = [](int p, int n) { return p < 0 ? p + 4 : p >= n ? p - 4 : p; };
    Plane padded(raw.width + 4, raw.height + 4, 1);
    for (int y = -2; y < raw.height + 2; ++y) {
      for (int x = -2; x < raw.width + 2; ++x) {
        padded.At(x + 2, y + 2) = raw.At(inside(x, raw.width), inside(y, raw.height));
      }
    }
    for (int phase = 0; phase < 4; ++phase) {
      const BayerGains g = Gains(phase, 180, 100, 60);
      const Plane out = Demosaic(nullptr, raw, g);
      const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, padded, g, 3, false);
      for (int y = 0; y < raw.height; ++y) {
        for (int x = 0; x < raw.width; ++x) {
          if (x >= 2 && x < raw.width - 2 && y >= 2 && y < raw.height - 2) continue;
          for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(out.At(x, y, c), ref.At(x + 2, y + 2, c))
                << "phase " << phase << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

// With an odd width the colour layout must not drift from row to row: the
// interior of a frame one column narrower is the same picture.
TEST(DemosaicTest, OddWidthKeepsTheColumnPhaseOnEveryRow) {
  const Plane wide = RandomMosaic(12, 10, 5);
  Plane odd(11, 10, 1);
  for (int y = 0; y < 10; ++y) std::memcpy(odd.Pixel(0, y), wide.Pixel(0, y), 11);
  for (int phase = 0; phase < 4; ++phase) {
    const Plane a = Demosaic(DemosaicInteriorScalarRoutine, wide, Gains(phase), 3, false);
    const Plane b = Demosaic(DemosaicInteriorScalarRoutine, odd, Gains(phase), 3, false);
    for (int y = 2; y <= 7; ++y) {
      for (int x = 2; x <= 8; ++x) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(a.At(x, y, c), b.At(x, y, c)) << x << "," << y;
      }
    }
  }
}

TEST(DemosaicTest, RedGain400SaturatesAtSumsOf1024) {
  for (const auto& [value, expectedRed] : {std::pair{64, 255}, {63, 252}, {10, 40}}) {
    const Plane raw(9, 9, 1, static_cast<uint8_t>(value));
    const Plane out = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(0, 400, 100, 100));
    EXPECT_EQ(out.At(4, 4, 2), expectedRed) << value;
    EXPECT_EQ(out.At(0, 0, 2), expectedRed) << value;
    EXPECT_EQ(out.At(4, 4, 0), value);
  }
}

TEST(DemosaicTest, ThirtyTwoBitDestinationKeepsTheFourthByte) {
  const Plane raw = RandomMosaic(9, 7, 2);
  const Plane out = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(2), 4, true, 0xAB);
  const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(2), 3, true);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(out.At(x, y, 3), 0xAB);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(out.At(x, y, c), ref.At(x, y, c));
    }
  }
}

TEST(DemosaicTest, EmptyRectangleOrMissingGainsWriteNothing) {
  const Plane raw = RandomMosaic(8, 8, 1);
  const BayerGains g = Gains(0);
  for (RegionRoutine r : {DemosaicInteriorScalarRoutine, DemosaicInteriorSse2Routine,
                          DemosaicInteriorMmxRoutine, DemosaicBorderRoutine}) {
    Plane out(8, 8, 3, 0x5A);
    EXPECT_EQ(Apply(r, out, raw, PixelRect{3, 3, 3, 8}, 0, 0, &g), 1);
    EXPECT_EQ(Apply(r, out, raw, PixelRect{0, 4, 8, 4}, 0, 0, &g), 1);
    EXPECT_EQ(Apply(r, out, raw, raw.Whole(), 0, 0, static_cast<const BayerGains*>(nullptr)), 0);
    EXPECT_TRUE(
        std::all_of(out.bytes.begin(), out.bytes.end(), [](uint8_t b) { return b == 0x5A; }));
  }
}

// A region of a larger image is demosaiced as a picture of its own, placed at
// the destination position, and the stride padding is never read as samples.
TEST(DemosaicTest, RegionAndPaddedStrideGiveTheSamePicture) {
  const Plane big = RandomMosaic(30, 20, 9, 255, 12);
  Plane part(13, 11, 1);
  for (int y = 0; y < 11; ++y) std::memcpy(part.Pixel(0, y), big.Pixel(7, 5 + y), 13);
  const BayerGains g = Gains(3, 120, 100, 80);
  const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, part, g);
  Plane out(20, 15, 3, 0, 8);
  Apply(DemosaicInteriorScalarRoutine, out, big, PixelRect{7, 5, 20, 16}, 4, 2, &g);
  Apply(DemosaicBorderRoutine, out, big, PixelRect{7, 5, 20, 16}, 4, 2, &g);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 13; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out.At(x + 4, y + 2, c), ref.At(x, y, c));
    }
  }
  EXPECT_EQ(out.At(3, 2, 0), 0);
  EXPECT_EQ(out.At(17, 2, 0), 0);
}

// --- vector forms against the scalar reference -------------------------------

struct VectorFormCase {
  std::string name;
  RegionRoutine routine;
  bool (*built)();
  int32_t bit;
  friend void PrintTo(const VectorFormCase& c, std::ostream* os) { *os << c.name; }
};

class VectorDemosaicTest : public ::testing::TestWithParam<VectorFormCase> {
 protected:
  void SetUp() override {
    CpuFeatures cpu{};
    DetectCpuFeatures(&cpu);
    if (!GetParam().built() || !CpuUsable(cpu, GetParam().bit)) {
      GTEST_SKIP() << GetParam().name << " is not available on this processor or build";
    }
  }
};

TEST_P(VectorDemosaicTest, IdenticalToScalarWithAllGains100) {
  const int sizes[][2] = {{5, 5}, {21, 7}, {22, 9}, {64, 9}, {100, 33}, {37, 18}};
  for (const auto& size : sizes) {
    const Plane raw = RandomMosaic(size[0], size[1], size[0] * 31 + size[1]);
    for (int phase = 0; phase < 4; ++phase) {
      const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(phase));
      const Plane out = Demosaic(GetParam().routine, raw, Gains(phase));
      ASSERT_EQ(out.bytes, ref.bytes) << size[0] << "x" << size[1] << " phase " << phase;
    }
  }
}

TEST_P(VectorDemosaicTest, RedAndBlueWithin2GreenIdenticalForOtherGains) {
  const Plane raw = RandomMosaic(77, 23, 4);
  const int gains[][2] = {{150, 70}, {200, 200}, {0, 199}, {133, 101}};
  int differing = 0;
  for (int phase = 0; phase < 4; ++phase) {
    for (const auto& gr : gains) {
      const BayerGains g = Gains(phase, gr[0], 100, gr[1]);
      const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, raw, g);
      const Plane out = Demosaic(GetParam().routine, raw, g);
      for (int y = 0; y < raw.height; ++y) {
        for (int x = 0; x < raw.width; ++x) {
          ASSERT_EQ(out.At(x, y, 1), ref.At(x, y, 1));
          for (int c : {0, 2}) {
            ASSERT_LE(std::abs(out.At(x, y, c) - ref.At(x, y, c)), 2) << x << "," << y;
            differing += out.At(x, y, c) != ref.At(x, y, c);
          }
        }
      }
    }
  }
  EXPECT_GT(differing, 0) << "the vector forms shift before the gain and should round apart";
}

TEST_P(VectorDemosaicTest, RoundsAsTheVectorFormula) {
  const Plane raw = RandomMosaic(53, 12, 8);
  const int red = 173, blue = 61;
  const Plane out =
      Demosaic(GetParam().routine, raw, Gains(0, red, 100, blue), 3, /*border=*/false);
  for (int y = 2; y <= raw.height - 3; y += 2) {
    for (int x = 2; x <= raw.width - 3; ++x) {
      const Sums s = Phase0ExampleSums(raw, x, y);
      ASSERT_EQ(out.At(x, y, 0), VectorGain(s.blue, blue)) << x << "," << y;
      ASSERT_EQ(out.At(x, y, 2), VectorGain(s.red, red)) << x << "," << y;
    }
  }
}

// The vector rounding takes a colour sum in sixteenths, (sum >> 4), times the
// gain's multiplier, >> 7. At unit gain the scalar routine gives exactly those
// sixteenths (sum x 128 >> 11), so its unit-gain picture is the reference of
// every gain the vector forms take; above 200 they run the scalar routine.
// Fault caught: a vector form that rounds differently in some phase, at some
// gain (0, 1, up to 200, or just above it) or in the columns of an odd width
// that its last full step leaves to the scalar tail.
TEST_P(VectorDemosaicTest, ExactForEveryPhaseGainAndOddWidth) {
  for (const int width : {5, 21, 35, 37, 67, 131}) {
    const Plane raw = RandomMosaic(width, 9, width * 3 + 1);
    for (int phase = 0; phase < 4; ++phase) {
      const Plane unit = Demosaic(DemosaicInteriorScalarRoutine, raw, Gains(phase), 3, false);
      for (int red = 0; red <= 400; red += (red < 190 || red > 210) ? 13 : 1) {
        for (const auto& [green, blue] :
             {std::pair{100, 200 - red % 201}, {100, 400 - red}, {201, red}}) {
          const BayerGains g = Gains(phase, red, green, blue);
          const Plane out = Demosaic(GetParam().routine, raw, g, 3, false);
          Plane ref = Demosaic(DemosaicInteriorScalarRoutine, raw, g, 3, false);
          if (red <= 200 && green <= 200 && blue <= 200) {
            for (int y = 0; y < raw.height; ++y) {
              for (int x = 0; x < raw.width; ++x) {
                ref.At(x, y, 0) = static_cast<uint8_t>(
                    std::min(255, (unit.At(x, y, 0) * (blue * 128 / 100)) >> 7));
                ref.At(x, y, 2) = static_cast<uint8_t>(
                    std::min(255, (unit.At(x, y, 2) * (red * 128 / 100)) >> 7));
              }
            }
          }
          ASSERT_EQ(out.bytes, ref.bytes) << "width " << width << " phase " << phase << " gains "
                                          << red << "/" << green << "/" << blue;
        }
      }
    }
  }
}

// Inside a larger image the vector steps neither read nor write past the
// region: the picture matches the scalar one of the cut-out region, and the
// destination around the region keeps its contents.
TEST_P(VectorDemosaicTest, RegionOfALargerImageStaysInside) {
  const Plane big = RandomMosaic(120, 16, 13, 255, 8);
  for (int width : {19, 20, 35, 36, 37, 52, 69, 100}) {
    Plane part(width, 12, 1);
    for (int y = 0; y < 12; ++y) std::memcpy(part.Pixel(0, y), big.Pixel(3, 2 + y), width);
    const BayerGains g = Gains(1, 160, 100, 90);
    const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, part, g, 3, false, 0x3C);
    Plane out(width + 10, 16, 3, 0x3C, 4);
    Apply(GetParam().routine, out, big, PixelRect{3, 2, 3 + width, 14}, 5, 1, &g);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < width + 10; ++x) {
        const bool inside = x >= 5 && x < 5 + width && y >= 1 && y < 13;
        for (int c = 0; c < 3; ++c) {
          const int expected = inside ? ref.At(x - 5, y - 1, c) : 0x3C;
          if (!inside) {
            ASSERT_EQ(out.At(x, y, c), expected) << width << " at " << x << "," << y;
          } else if (ref.At(x - 5, y - 1, c) != out.At(x, y, c)) {
            ASSERT_LE(std::abs(out.At(x, y, c) - expected), 2) << width << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

// Gains above 200 would overflow the 16-bit lanes, and 32-bit destinations are
// scalar by rule: the vector routine must give the scalar result then.
TEST_P(VectorDemosaicTest, FallsBackToScalarForHighGainsAnd32BitDestinations) {
  const Plane raw = RandomMosaic(41, 13, 6);
  for (const auto& [g, bpp] : {std::pair{Gains(1, 201, 100, 100), 3},
                               {Gains(2, 100, 100, 400), 3},
                               {Gains(0, 100, 250, 100), 3},
                               {Gains(3, 150, 100, 70), 4}}) {
    const Plane ref = Demosaic(DemosaicInteriorScalarRoutine, raw, g, bpp);
    const Plane out = Demosaic(GetParam().routine, raw, g, bpp);
    EXPECT_EQ(out.bytes, ref.bytes) << g.red << "/" << g.green << "/" << g.blue << " bpp " << bpp;
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, VectorDemosaicTest,
                         ::testing::Values(VectorFormCase{"mmx", DemosaicInteriorMmxRoutine,
                                                          HaveDemosaicMmx, kCpuMmx},
                                           VectorFormCase{"sse2", DemosaicInteriorSse2Routine,
                                                          HaveDemosaicSse2, kCpuSse2},
                                           VectorFormCase{"avx2", DemosaicInteriorAvx2Routine,
                                                          HaveDemosaicAvx2, kCpuSse2}),
                         [](const auto& info) { return info.param.name; });

TEST(VectorDemosaicAgreementTest, Avx2IsBitIdenticalToSse2) {
  if (!HaveDemosaicAvx2()) GTEST_SKIP() << "no AVX2 on this processor or build";
  const int sizes[][2] = {{5, 5}, {38, 6}, {39, 7}, {70, 9}, {131, 12}, {37, 18}};
  for (const auto& size : sizes) {
    const Plane raw = RandomMosaic(size[0], size[1], size[0] + 17 * size[1]);
    for (int phase = 0; phase < 4; ++phase) {
      const BayerGains g = Gains(phase, phase == 0 ? 100 : 187, 100, phase == 3 ? 200 : 33);
      EXPECT_EQ(Demosaic(DemosaicInteriorAvx2Routine, raw, g).bytes,
                Demosaic(DemosaicInteriorSse2Routine, raw, g).bytes)
          << size[0] << "x" << size[1] << " phase " << phase;
    }
  }
}

TEST(VectorDemosaicAgreementTest, MmxAndSse2AreIdentical) {
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  if (!HaveDemosaicMmx() || !HaveDemosaicSse2() || !UseMmx(cpu) || !UseSse2(cpu)) {
    GTEST_SKIP() << "needs both vector forms";
  }
  const Plane raw = RandomMosaic(95, 17, 12);
  for (int phase = 0; phase < 4; ++phase) {
    const BayerGains g = Gains(phase, 187, 100, 33);
    EXPECT_EQ(Demosaic(DemosaicInteriorMmxRoutine, raw, g).bytes,
              Demosaic(DemosaicInteriorSse2Routine, raw, g).bytes);
  }
}

// --- deep demosaic -----------------------------------------------------------

TEST(DeepDemosaicTest, UniformFramesKeepTheirValueAndTheBorderIsUntouched) {
  const std::tuple<RegionRoutine, int, int> forms[] = {{DemosaicDeep10Routine, 1023, 6},
                                                       {DemosaicDeep12Routine, 4095, 8},
                                                       {DemosaicDeep14Routine, 16383, 6},
                                                       {DemosaicDeep16Routine, 65535, 8}};
  for (const auto& [routine, maxValue, bpp] : forms) {
    for (int value : {0, maxValue / 3, maxValue}) {
      Plane raw(9, 8, 2);
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 9; ++x) raw.SetSample16(x, y, static_cast<uint16_t>(value));
      }
      for (int phase = 0; phase < 4; ++phase) {
        Plane out(9, 8, bpp, 0xCD);
        BayerGains g = Gains(phase);
        ASSERT_EQ(Apply(routine, out, raw, &g), 1);
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 9; ++x) {
            const bool interior = x >= 2 && x <= 6 && y >= 2 && y <= 5;
            for (int c = 0; c < bpp / 2; ++c) {
              const int expected = interior && c < 3 ? value : 0xCDCD;
              ASSERT_EQ(out.Sample16(x, y, c), expected) << maxValue << " " << x << "," << y;
            }
          }
        }
      }
    }
  }
}

TEST(DeepDemosaicTest, SamplesAboveTheDeclaredDepthSaturate) {
  Plane raw(7, 7, 2);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) raw.SetSample16(x, y, 4095);
  }
  Plane out(7, 7, 6);
  BayerGains g = Gains(0);
  Apply(DemosaicDeep10Routine, out, raw, &g);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(out.Sample16(3, 3, c), 1023);
}

TEST(DeepDemosaicTest, GainsScaleAndSaturateAtTheDepth) {
  // A uniform 12-bit frame of 1000: red sum 16000, x 1.28 x gain.
  Plane raw(7, 7, 2);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) raw.SetSample16(x, y, 1000);
  }
  for (const auto& [gain, expected] : {std::pair{100, 1000}, {50, 500}, {400, 4000}, {0, 0}}) {
    Plane out(7, 7, 6);
    BayerGains g = Gains(1, gain, 100, 100);
    Apply(DemosaicDeep12Routine, out, raw, &g);
    EXPECT_EQ(out.Sample16(3, 3, 2), expected) << gain;
    Apply(DemosaicDeep10Routine, out, raw, &g);
    EXPECT_EQ(out.Sample16(3, 3, 2), std::min(expected, 1023)) << gain;
  }
  EXPECT_EQ(DeepDemosaicFor(2), DemosaicDeep12Routine);
  EXPECT_EQ(DeepDemosaicFor(4), DemosaicDeep16Routine);
  EXPECT_EQ(DeepDemosaicFor(0), DemosaicDeep10Routine);
}

}  // namespace
}  // namespace varnel::test

// --- vector forms of the scalar formula and of the deep demosaic --------------

namespace varnel::test {
namespace {

using ScalarBody = int (*)(const RegionView&, const BayerGains&, DemosaicRows);
using DeepBody = int (*)(const RegionView&, const BayerGains&, int, DemosaicRows);

bool HaveSse2() {
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  return HaveDemosaicSse2() && UseSse2(cpu);
}

struct ExactForm {
  const char* name;
  ScalarBody body;
  DeepBody deep;
  bool (*available)();
};
const ExactForm kExactForms[] = {
    {"sse2", DemosaicInteriorScalarSse2, DemosaicDeepSse2, HaveSse2},
    {"avx2", DemosaicInteriorScalarAvx2, DemosaicDeepAvx2, HaveDemosaicAvx2},
};

// The region [x0, x0 + w) x [y0, y0 + h) of `src` into `dst` at (dx, dy).
RegionView ViewOf(Plane& dst, const Plane& src, int x0, int y0, int w, int h, int dx, int dy) {
  return MakeRegionView(dst.Data(), src.Data(), PixelRect{x0, y0, x0 + w, y0 + h}, dx, dy, dst.bpp,
                        src.bpp, dst.stride, src.stride);
}

// Fault caught: a vector form of the scalar formula that rounds like the
// vector forms, drops the fourth byte of 32-bit pixels, mishandles a phase,
// an odd width, a padded stride, a region offset, the columns after its last
// full step, or a gain above 200 (up to the largest multiplier a lane holds).
TEST(ScalarVectorDemosaicTest, IdenticalToTheScalarRoutine) {
  const int sizes[][2] = {{5, 5},  {6, 7},   {17, 6}, {20, 9},  {35, 8},   {36, 11},
                          {37, 5}, {51, 12}, {66, 7}, {67, 10}, {100, 13}, {131, 6}};
  const int gains[][2] = {{100, 100}, {0, 400}, {201, 37}, {400, 400}, {150, 90}, {12799, 3}};
  for (const ExactForm& form : kExactForms) {
    if (!form.available()) continue;
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      const Plane big = RandomMosaic(w + 7, h + 3, w * 13 + h, 255, 5);
      for (int bpp : {3, 4}) {
        for (int phase = 0; phase < 4; ++phase) {
          for (const auto& gr : gains) {
            const BayerGains g{phase, gr[0], 100, gr[1]};
            Plane ref(w + 4, h + 2, bpp, 0xA7, 3), out(w + 4, h + 2, bpp, 0xA7, 3);
            DemosaicInteriorScalar(ViewOf(ref, big, 3, 2, w, h, 1, 1), g);
            form.body(ViewOf(out, big, 3, 2, w, h, 1, 1), g, DemosaicRows{});
            ASSERT_EQ(out.bytes, ref.bytes)
                << form.name << " " << w << "x" << h << " bpp " << bpp << " phase " << phase
                << " gains " << gr[0] << "/" << gr[1];
          }
        }
      }
    }
  }
}

// Fault caught: the deep vector forms differ from the scalar deep demosaic for
// some depth, phase, width, destination or gain; read samples above the
// declared depth differently (the scalar form saturates them); or write the
// fourth sample or the outer rows and columns.
TEST(ScalarVectorDemosaicTest, DeepFormsIdenticalToTheScalarForm) {
  const int sizes[][2] = {{5, 5}, {12, 7}, {19, 6}, {26, 9}, {27, 5}, {40, 8}, {73, 11}};
  const int gains[][2] = {{100, 100}, {0, 400}, {400, 1}, {130, 90}, {1599, 250}, {1601, 2000}};
  for (const ExactForm& form : kExactForms) {
    if (!form.available()) continue;
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      for (int maxSample : {1023, 65535}) {
        const Plane big = RandomMosaic(w + 5, h + 4, w * 7 + h + maxSample, maxSample, 6);
        for (int bits : {10, 12, 14, 16}) {
          for (int bpp : {6, 8}) {
            for (int phase = 0; phase < 4; ++phase) {
              const auto& gr = gains[(phase + bits + bpp) % 6];
              const BayerGains g{phase, gr[0], 100, gr[1]};
              Plane ref(w + 3, h + 2, bpp, 0x5C, 2), out(w + 3, h + 2, bpp, 0x5C, 2);
              DemosaicDeep(ViewOf(ref, big, 2, 3, w, h, 2, 1), g, bits);
              form.deep(ViewOf(out, big, 2, 3, w, h, 2, 1), g, bits, DemosaicRows{});
              ASSERT_EQ(out.bytes, ref.bytes)
                  << form.name << " " << w << "x" << h << " bits " << bits << " bpp " << bpp
                  << " phase " << phase << " max sample " << maxSample << " gains " << gr[0] << "/"
                  << gr[1];
            }
          }
        }
      }
    }
  }
}

// Fault caught: demosaicing a frame band by band (as the frame pipeline does)
// writes a row outside its band, or leaves a row unwritten, for bands of odd
// and even heights and bands that start or end inside the outer rows.
TEST(ScalarVectorDemosaicTest, BandsTogetherGiveTheWholeFrame) {
  const Plane raw8 = RandomMosaic(45, 23, 5);
  const Plane raw16 = RandomMosaic(45, 23, 6, 4095);
  const BayerGains g{1, 120, 100, 210};
  const std::vector<std::vector<int>> splits = {
      {0, 1, 2, 5, 8, 23}, {0, 3, 4, 11, 20, 21, 23}, {0, 7, 14, 23}};
  struct Case {
    const char* name;
    std::function<void(Plane&, DemosaicRows)> run;
    int bpp;
  };
  std::vector<Case> cases = {
      {"scalar",
       [&](Plane& o, DemosaicRows r) {
         DemosaicInteriorScalar(ViewOf(o, raw8, 0, 0, 45, 23, 0, 0), g, r);
       },
       3},
      {"border",
       [&](Plane& o, DemosaicRows r) { DemosaicBorder(ViewOf(o, raw8, 0, 0, 45, 23, 0, 0), g, r); },
       3},
      {"deep scalar",
       [&](Plane& o, DemosaicRows r) {
         DemosaicDeep(ViewOf(o, raw16, 0, 0, 45, 23, 0, 0), g, 12, r);
       },
       6}};
  for (const ExactForm& form : kExactForms) {
    if (!form.available()) continue;
    cases.push_back({form.name,
                     [&, form](Plane& o, DemosaicRows r) {
                       form.body(ViewOf(o, raw8, 0, 0, 45, 23, 0, 0), g, r);
                     },
                     4});
    cases.push_back({form.name,
                     [&, form](Plane& o, DemosaicRows r) {
                       form.deep(ViewOf(o, raw16, 0, 0, 45, 23, 0, 0), g, 12, r);
                     },
                     8});
  }
  auto vectorRounding = [&](ScalarBody body, bool (*available)(), const char* name) {
    if (available()) {
      cases.push_back({name,
                       [&, body](Plane& o, DemosaicRows r) {
                         body(ViewOf(o, raw8, 0, 0, 45, 23, 0, 0), BayerGains{2, 150, 100, 90}, r);
                       },
                       3});
    }
  };
  vectorRounding(DemosaicInteriorSse2, HaveSse2, "sse2 vector rounding");
  vectorRounding(DemosaicInteriorAvx2, HaveDemosaicAvx2, "avx2 vector rounding");
  for (const Case& c : cases) {
    Plane whole(45, 23, c.bpp, 0x11);
    c.run(whole, DemosaicRows{});
    for (const auto& split : splits) {
      Plane banded(45, 23, c.bpp, 0x11);
      for (size_t i = 0; i + 1 < split.size(); ++i) {
        Plane before = banded;
        c.run(banded, DemosaicRows{split[i], split[i + 1]});
        for (int y = 0; y < 23; ++y) {
          if (y >= split[i] && y < split[i + 1]) continue;
          ASSERT_TRUE(std::equal(banded.Pixel(0, y), banded.Pixel(0, y) + banded.stride,
                                 before.Pixel(0, y)))
              << c.name << ": band " << split[i] << ".." << split[i + 1] << " wrote row " << y;
        }
      }
      ASSERT_EQ(banded.bytes, whole.bytes) << c.name << " split starting " << split[1];
    }
  }
}

}  // namespace
}  // namespace varnel::test
