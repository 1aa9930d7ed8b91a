// White balance, region means, colour to gray, the reductions and copies, and
// the nearest-neighbour scalers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image_buffers.h"
#include "imaging/pixel_routines.h"

namespace varnel::test {
namespace {

// A phase-0 mosaic (G B / R G) with one value per colour.
Plane ColorMosaic(int w, int h, int r, int g, int b, bool wide = false) {
  Plane p(w, h, wide ? 2 : 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int v = (y & 1) == (x & 1) ? g : (y & 1) ? r : b;
      if (wide) {
        p.SetSample16(x, y, static_cast<uint16_t>(v));
      } else {
        p.At(x, y) = static_cast<uint8_t>(v);
      }
    }
  }
  return p;
}

TEST(WhiteBalanceTest, GainsAreGreenMeanOverColourMean) {
  struct Case {
    int r, g, b;
    bool wide;
    int expectedRed, expectedBlue;
  };
  const Case cases[] = {
      {50, 100, 200, false, 200, 50},
      {100, 100, 100, false, 100, 100},
      {10, 200, 100, false, 400, 200},  // 2000 is limited to 400
      {400, 800, 1000, true, 200, 80},  // 16-bit samples
  };
  for (const Case& c : cases) {
    const Plane raw = ColorMosaic(8, 6, c.r, c.g, c.b, c.wide);
    BayerGains g{0, 1, 2, 3};
    Plane unused(1, 1, 1);
    ASSERT_EQ(Apply(MeasureWhiteBalanceRoutine, unused, raw, &g), 1);
    EXPECT_EQ(g.red, c.expectedRed) << c.r << "/" << c.g << "/" << c.b;
    EXPECT_EQ(g.green, 100);
    EXPECT_EQ(g.blue, c.expectedBlue);
  }
}

TEST(WhiteBalanceTest, ReadsColoursByPhase) {
  // The same mosaic read as phase 3 (G R / B G) exchanges red and blue.
  const Plane raw = ColorMosaic(8, 6, 50, 100, 200);
  BayerGains g{3, 0, 0, 0};
  Plane unused(1, 1, 1);
  Apply(MeasureWhiteBalanceRoutine, unused, raw, &g);
  EXPECT_EQ(g.red, 50);
  EXPECT_EQ(g.blue, 200);
}

TEST(WhiteBalanceTest, BlackOrSingleColourFrameKeepsThePreviousGains) {
  Plane unused(1, 1, 1);
  for (const Plane& raw : {ColorMosaic(6, 6, 0, 0, 0), ColorMosaic(6, 6, 0, 90, 90),
                           ColorMosaic(6, 6, 90, 0, 90), ColorMosaic(6, 6, 90, 90, 0)}) {
    BayerGains g{0, 123, 100, 77};
    EXPECT_EQ(Apply(MeasureWhiteBalanceRoutine, unused, raw, &g), 0);
    EXPECT_EQ(g.red, 123);
    EXPECT_EQ(g.blue, 77);
  }
}

TEST(RegionMeanTest, MeanOfTheRectangle) {
  Plane p(4, 3, 1);
  for (int i = 0; i < 12; ++i) p.bytes[(i / 4) * p.stride + i % 4] = static_cast<uint8_t>(i * 10);
  Plane unused(1, 1, 1);
  auto mean = [&](const PixelRect& r) {
    return RegionMean8Routine(unused.Data(), p.Data(), r, 0, 0, 1, 1, unused.stride, p.stride,
                              nullptr, 0);
  };
  EXPECT_EQ(mean(p.Whole()), 55);
  EXPECT_EQ(mean(PixelRect{1, 1, 3, 3}), 75);  // 50, 60, 90, 100
  EXPECT_EQ(mean(PixelRect{2, 0, 2, 3}), 0);   // empty
  Plane wide(2, 1, 2);
  wide.SetSample16(0, 0, 0x3FF);  // bits 2..9 = 255
  wide.SetSample16(1, 0, 0x405);  // bits 2..9 = 1
  EXPECT_EQ(RegionMean16Routine(unused.Data(), wide.Data(), wide.Whole(), 0, 0, 1, 2, unused.stride,
                                wide.stride, nullptr, 0),
            128);
}

TEST(ColorToGrayTest, WeightsGreenRedBlue) {
  const int cases[][4] = {
      {255, 0, 0, 28}, {0, 255, 0, 150}, {0, 0, 255, 76}, {255, 255, 255, 255}, {10, 20, 30, 21}};
  for (int bpp : {3, 4}) {
    for (const auto& c : cases) {
      Plane src(1, 1, bpp);
      src.At(0, 0, 0) = static_cast<uint8_t>(c[0]);
      src.At(0, 0, 1) = static_cast<uint8_t>(c[1]);
      src.At(0, 0, 2) = static_cast<uint8_t>(c[2]);
      Plane out(1, 1, 1);
      Apply(ColorToGrayRoutine, out, src);
      EXPECT_EQ(out.At(0, 0), c[3]) << c[0] << "," << c[1] << "," << c[2];
    }
  }
}

// One pixel through each per-pixel routine of the table.
TEST(ReductionTest, PerPixelRoutines) {
  struct Case {
    const char* name;
    RegionRoutine routine;
    int srcBpp, dstBpp;
    std::vector<uint8_t> in, expected;
  };
  const Case cases[] = {
      {"mono10", ReduceMono10To8Routine, 2, 1, {0xFC, 0x03}, {0xFF}},
      {"mono10 high bits dropped", ReduceMono10To8Routine, 2, 1, {0x04, 0x04}, {0x01}},
      {"mono12", ReduceMono12To8Routine, 2, 1, {0x30, 0x0A}, {0xA3}},
      {"mono14", ReduceMono14To8Routine, 2, 1, {0xC0, 0x2A}, {0xAB}},
      {"mono16", ReduceMono16To8Routine, 2, 1, {0x12, 0xAB}, {0xAB}},
      {"32 to 24", Copy32To24Routine, 4, 3, {1, 2, 3, 4}, {1, 2, 3}},
      {"wide to 24", ReduceWideTo24Routine, 6, 3, {0x04, 0, 0x08, 0, 0xFC, 0x03}, {1, 2, 0xFF}},
      {"wide 12 to 24",
       ReduceWide12To24Routine,
       8,
       3,
       {0x10, 0, 0, 0x0F, 0xF0, 0x0F, 9, 9},
       {1, 0xF0, 0xFF}},
      {"wide 16 to 24", ReduceWide16To24Routine, 6, 3, {0, 1, 0, 2, 0xFF, 0xFF}, {1, 2, 0xFF}},
      {"swap red blue", SwapRedBlue24Routine, 4, 3, {1, 2, 3, 4}, {3, 2, 1}},
      {"32 opaque", Copy32OpaqueRoutine, 4, 4, {1, 2, 3, 0}, {1, 2, 3, 255}},
      {"mono widen", WidenMono16Routine, 2, 2, {0xFF, 0x03}, {0xF0, 0x3F}},
      {"wide widen",
       WidenWide48Routine,
       6,
       6,
       {1, 0, 2, 0, 0xFF, 0x03},
       {0x40, 0, 0x80, 0, 0xC0, 0xFF}},
      {"wide widen opaque",
       WidenWide64OpaqueRoutine,
       8,
       8,
       {1, 0, 2, 0, 3, 0, 7, 7},
       {0x40, 0, 0x80, 0, 0xC0, 0, 0xFF, 0xFF}},
      {"wide widen swap",
       WidenWide48SwapRedBlueRoutine,
       6,
       6,
       {1, 0, 2, 0, 3, 0},
       {0xC0, 0, 0x80, 0, 0x40, 0}},
      {"wide widen swap opaque",
       WidenWide64SwapRedBlueOpaqueRoutine,
       8,
       8,
       {1, 0, 2, 0, 3, 0, 0, 0},
       {0xC0, 0, 0x80, 0, 0x40, 0, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    Plane src(1, 1, c.srcBpp), out(1, 1, c.dstBpp, 0xEE);
    std::copy(c.in.begin(), c.in.end(), src.Pixel(0, 0));
    ASSERT_EQ(Apply(c.routine, out, src), 1) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(out.Pixel(0, 0), out.Pixel(0, 0) + c.expected.size()),
              c.expected)
        << c.name;
  }
}

// Fault caught: a reduction that, on rows long enough for its vector kernel,
// saturates instead of keeping the low byte of the shifted sample, picks the
// wrong samples of 48- or 64-bit pixels, mishandles the samples after the
// last whole step, a region that does not start at column 0, or the rows of
// a reversed form.
TEST(ReductionTest, LongRowsGiveThePerPixelResult) {
  struct Case {
    const char* name;
    RegionRoutine routine;
    int srcBpp, dstBpp, shift;
    bool reversed;
  };
  const Case cases[] = {
      {"mono10", ReduceMono10To8Routine, 2, 1, 2, false},
      {"mono12", ReduceMono12To8Routine, 2, 1, 4, false},
      {"mono14", ReduceMono14To8Routine, 2, 1, 6, false},
      {"mono16", ReduceMono16To8Routine, 2, 1, 8, false},
      {"mono10 reversed", ReduceMono10To8ReversedRoutine, 2, 1, 2, true},
      {"48 to 24", ReduceWideTo24Routine, 6, 3, 2, false},
      {"48 to 24, 12 bits", ReduceWide12To24Routine, 6, 3, 4, false},
      {"64 to 24, 14 bits", ReduceWide14To24Routine, 8, 3, 6, false},
      {"64 to 24, 16 bits", ReduceWide16To24Routine, 8, 3, 8, false},
      {"64 to 24 reversed", ReduceWideTo24ReversedRoutine, 8, 3, 2, true},
      {"48 to 24 reversed", ReduceWideTo24ReversedRoutine, 6, 3, 2, true},
      {"32 to 24", Copy32To24Routine, 4, 3, 0, false},
      {"24 to 24", Copy32To24Routine, 3, 3, 0, false},
  };
  for (const Case& c : cases) {
    for (int width : {1, 7, 8, 15, 16, 17, 31, 32, 33, 63, 70, 257}) {
      const int h = 3;
      Plane src(width + 5, h, c.srcBpp, 0, 3);
      std::mt19937 rng(width * 7 + c.srcBpp);
      for (uint8_t& b : src.bytes) b = static_cast<uint8_t>(rng());
      Plane out(width + 2, h, c.dstBpp, 0xEE, 1);
      const PixelRect rect{5, 0, 5 + width, h};
      ASSERT_EQ(Apply(c.routine, out, src, rect, 1, 0, static_cast<int*>(nullptr)), 1) << c.name;
      for (int y = 0; y < h; ++y) {
        const int sy = c.reversed ? h - 1 - y : y;
        for (int x = 0; x < width + 2; ++x) {
          for (int k = 0; k < c.dstBpp; ++k) {
            int expected = 0xEE;
            if (x >= 1 && x <= width) {
              expected = c.shift == 0 ? src.At(x + 4, sy, k)
                                      : (src.Sample16(x + 4, sy, k) >> c.shift) & 0xFF;
            }
            ASSERT_EQ(out.At(x, y, k), expected)
                << c.name << " width " << width << " at " << x << "," << y << " sample " << k;
          }
        }
      }
    }
  }
}

TEST(ReductionTest, ReversedFormsTakeRowsFromTheBottom) {
  Plane mono(3, 4, 2), wide(3, 4, 6), any(3, 4, 3);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) {
      mono.SetSample16(x, y, static_cast<uint16_t>((y * 10 + x) << 2));
      for (int c = 0; c < 3; ++c)
        wide.SetSample16(x, y, static_cast<uint16_t>((y * 10 + c) << 2), c);
      for (int c = 0; c < 3; ++c) any.At(x, y, c) = static_cast<uint8_t>(y * 10 + x + c);
    }
  }
  Plane m8(3, 4, 1), w24(3, 4, 3), copy(3, 4, 3);
  Apply(ReduceMono10To8ReversedRoutine, m8, mono);
  Apply(ReduceWideTo24ReversedRoutine, w24, wide);
  Apply(CopyRowsReversedRoutine, copy, any);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(m8.At(x, y), (3 - y) * 10 + x);
      EXPECT_EQ(w24.At(x, y, 2), (3 - y) * 10 + 2);
      EXPECT_EQ(copy.At(x, y, 1), any.At(x, 3 - y, 1));
    }
  }
}

// A copy of a region that does not start at column 0 reads and writes only
// the region, never past the end of the source rows or buffer.
TEST(ReductionTest, RowReversingCopyOfARegionStaysInsideIt) {
  Plane src = RandomMosaic(9, 5, 3), out(9, 5, 1, 0);
  const PixelRect r{5, 1, 9, 5};  // the right edge, to the last row
  ASSERT_EQ(Apply(CopyRowsReversedRoutine, out, src, r, 5, 1, static_cast<int*>(nullptr)), 1);
  for (int i = 0; i < 4; ++i) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(out.At(x, 1 + i), x >= 5 ? src.At(x, 4 - i) : 0) << x << "," << i;
    }
  }
  EXPECT_EQ(out.At(5, 0), 0);
}

TEST(ReductionTest, SelectionByBitDepthCode) {
  EXPECT_EQ(MonoTo8For(0), ReduceMono10To8Routine);
  EXPECT_EQ(MonoTo8For(1), ReduceMono10To8Routine);
  EXPECT_EQ(MonoTo8For(2), ReduceMono12To8Routine);
  EXPECT_EQ(MonoTo8For(3), ReduceMono14To8Routine);
  EXPECT_EQ(MonoTo8For(4), ReduceMono16To8Routine);
  EXPECT_EQ(WideTo24For(1), ReduceWideTo24Routine);
  EXPECT_EQ(WideTo24For(2), ReduceWide12To24Routine);
  EXPECT_EQ(WideTo24For(3), ReduceWide14To24Routine);
  EXPECT_EQ(WideTo24For(4), ReduceWide16To24Routine);
}

int Scale(WholeImageRoutine routine, Plane& dst, const Plane& src, PixelRect d, PixelRect s) {
  return routine(dst.Data(), src.Data(), d, s, dst.width, dst.height, src.width, src.height,
                 dst.bpp, src.bpp, dst.stride, src.stride, nullptr, 0);
}

TEST(ScalerTest, NearestNeighbourWithRowsReversed) {
  Plane src(4, 4, 1);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) src.At(x, y) = static_cast<uint8_t>(y * 4 + x);
  }
  // Halving: destination (j, i) takes source (2j, 3 - 2i).
  Plane half(2, 2, 1);
  ASSERT_EQ(Scale(ScaleNearestMono8Routine, half, src, half.Whole(), src.Whole()), 1);
  EXPECT_EQ(half.At(0, 0), 12);
  EXPECT_EQ(half.At(1, 0), 14);
  EXPECT_EQ(half.At(0, 1), 4);
  EXPECT_EQ(half.At(1, 1), 6);
  // Doubling: each source pixel covers 2 x 2.
  Plane twice(8, 8, 1);
  Scale(ScaleNearestMono8Routine, twice, src, twice.Whole(), src.Whole());
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) EXPECT_EQ(twice.At(j, i), (3 - i / 2) * 4 + j / 2);
  }
  // Same size: a pure row reversal; colour copies three bytes.
  Plane colour(3, 2, 3), flipped(3, 2, 3);
  for (int i = 0; i < 18; ++i)
    colour.bytes[(i / 9) * colour.stride + i % 9] = static_cast<uint8_t>(i);
  Scale(ScaleNearestBgr24Routine, flipped, colour, flipped.Whole(), colour.Whole());
  for (int x = 0; x < 9; ++x) {
    EXPECT_EQ(flipped.bytes[x], colour.bytes[colour.stride + x]);
    EXPECT_EQ(flipped.bytes[flipped.stride + x], colour.bytes[x]);
  }
}

// The whole-image routines get no clipping: rectangles beyond the images are
// limited to them, and empty ones write nothing.
TEST(ScalerTest, RectanglesOutsideTheImagesAreLimited) {
  const Plane src = RandomMosaic(5, 5, 2);
  Plane dst(4, 3, 3, 0x77);
  EXPECT_EQ(Scale(ScaleNearestBgr24Routine, dst, src, PixelRect{-3, -3, 40, 40},
                  PixelRect{-10, 2, 90, 99}),
            0)
      << "an 8-bit source has no three-byte pixels";
  Plane src24(5, 5, 3);
  EXPECT_EQ(Scale(ScaleNearestBgr24Routine, dst, src24, PixelRect{-3, -3, 40, 40},
                  PixelRect{-10, 2, 90, 99}),
            1);
  Plane untouched(4, 3, 1, 0x77);
  EXPECT_EQ(Scale(ScaleNearestMono8Routine, untouched, src, PixelRect{4, 0, 4, 3}, src.Whole()), 1);
  EXPECT_EQ(Scale(ScaleNearestMono8Routine, untouched, src, PixelRect{9, 9, 12, 12}, src.Whole()),
            1);
  for (uint8_t b : untouched.bytes) EXPECT_EQ(b, 0x77);
}

}  // namespace
}  // namespace varnel::test
