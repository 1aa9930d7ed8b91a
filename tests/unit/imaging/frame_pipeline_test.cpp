// The frame pipeline: order of steps, one-shot requests, routine selection.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image_buffers.h"
#include "imagefile/dib_image.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routines.h"

namespace varnel::test {
namespace {

FilterSettings NeutralSettings(int phase = 0) {
  FilterSettings s{};
  s.bayerGainRed = s.bayerGainGreen = s.bayerGainBlue = 100;
  s.gamma = 100;
  s.bayerPhase = phase;
  s.grayGainR = s.grayGainG1 = s.grayGainG2 = s.grayGainB = 128;
  return s;
}

CpuFeatures Features(int32_t reported, int32_t usable) {
  CpuFeatures f{};
  f.featureBits = reported;
  f.usableBits = usable;
  return f;
}

// The instance's images for one frame size.
struct Images {
  DibImage raw8, raw16, bgr24, bgr32, bgr48, bgr64, work;
  Images(int w, int h) {
    raw8.Create(w, h, 8);
    raw16.Create(w, h, 16);
    bgr24.Create(w, h, 24);
    bgr32.Create(w, h, 32);
    bgr48.Create(w, h, 48);
    bgr64.Create(w, h, 64);
  }
  FrameImages View() { return {&raw8, &raw16, &bgr24, &bgr32, &bgr48, &bgr64, &work}; }
  void FillRaw8(unsigned seed) {
    const Plane p = RandomMosaic(raw8.Width(), raw8.Height(), seed);
    for (int y = 0; y < raw8.Height(); ++y) std::memcpy(raw8.Row(y), p.Pixel(0, y), raw8.Width());
  }
};

std::vector<uint8_t> Bytes(const DibImage& image) {
  return std::vector<uint8_t>(image.Pixels(), image.Pixels() + image.ImageSize());
}

// The demosaic of the raw image done directly with the routines.
std::vector<uint8_t> DirectDemosaic(DibImage& raw, int bitCount, BayerGains gains) {
  DibImage out;
  out.Create(raw.Width(), raw.Height(), static_cast<uint16_t>(bitCount));
  const BayerGains* record = &gains;
  out.ConvertRegion(DemosaicInteriorScalarRoutine, &raw, nullptr, 0, 0, &record);
  out.ConvertRegion(DemosaicBorderRoutine, &raw, nullptr, 0, 0, &record);
  return Bytes(out);
}

TEST(FramePipelineTest, NeutralFiltersLeaveTheDemosaicOutput) {
  for (int colorClass : {kColorClassBgr24, kColorClassBgr32}) {
    Images im(13, 9);
    im.FillRaw8(3);
    FilterSettings s = NeutralSettings(1);
    DibImage* frame = RunFramePipeline(im.View(), s, colorClass, 0, Features(0, 0));
    ASSERT_EQ(frame, colorClass == kColorClassBgr24 ? &im.bgr24 : &im.bgr32);
    EXPECT_EQ(Bytes(*frame),
              DirectDemosaic(im.raw8, frame->BitCount(), BayerGains{1, 100, 100, 100}));
  }
}

// With every vector form usable the frame is still the scalar frame when all
// gains are 100 (the forms agree exactly then).
TEST(FramePipelineTest, VectorFormsGiveTheScalarFrameAtUnitGains) {
  Images im(70, 11);
  im.FillRaw8(8);
  FilterSettings s = NeutralSettings(2);
  DibImage* frame = RunFramePipeline(im.View(), s, kColorClassBgr24, 0,
                                     Features(kCpuMmx | kCpuSse2, kCpuMmx | kCpuSse2));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(Bytes(*frame), DirectDemosaic(im.raw8, 24, BayerGains{2, 100, 100, 100}));
}

TEST(FramePipelineTest, GrayMode2TurnsPureBlueInto28) {
  Images im(8, 6);
  // Phase 0 is G B / R G: blue samples 255, the rest 0.
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) im.raw8.Row(y)[x] = (y % 2 == 0 && x % 2 == 1) ? 255 : 0;
  }
  FilterSettings s = NeutralSettings(0);
  s.grayMode = 2;
  DibImage* frame = RunFramePipeline(im.View(), s, kColorClassMono8, 0, Features(0, 0));
  ASSERT_EQ(frame, &im.raw8);
  for (uint8_t v : Bytes(im.raw8)) ASSERT_EQ(v, 28);
}

TEST(FramePipelineTest, GrayGainsRunOnlyWhenAGainDiffersFrom128) {
  Images im(6, 4);
  im.FillRaw8(5);
  const std::vector<uint8_t> before = Bytes(im.raw8);
  FilterSettings s = NeutralSettings();
  s.grayMode = 1;
  s.grayOffsetR = s.grayOffsetB = 50;  // no effect while every gain is 128
  RunFramePipeline(im.View(), s, kColorClassMono8, 0, Features(0, 0));
  EXPECT_EQ(Bytes(im.raw8), before);
  s.grayGainB = 64;
  RunFramePipeline(im.View(), s, kColorClassMono8, 0, Features(0, 0));
  EXPECT_NE(Bytes(im.raw8), before);
}

TEST(FramePipelineTest, AutoGrayGainCountdown) {
  struct Case {
    int count, after;
  };
  for (const Case c : {Case{1, 0}, Case{3, 2}, Case{-1, -1}}) {
    Images im(4, 4);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) im.raw8.Row(y)[x] = (x + y) % 2 == 0 ? 100 : 50;
    }
    FilterSettings s = NeutralSettings();
    s.grayMode = 1;
    s.autoGrayGainCount = c.count;
    int refreshes = 0;
    FramePipelineHooks hooks;
    hooks.refreshFilterDialog = [&] { ++refreshes; };
    RunFramePipeline(im.View(), s, kColorClassMono8, 0, Features(0, 0), hooks);
    EXPECT_EQ(s.autoGrayGainCount, c.after);
    EXPECT_EQ(refreshes, 1);
    // Phase 0: G1 and G2 are 100, R and B 50 -> doubled.
    EXPECT_EQ(s.grayGainR, 255);
    EXPECT_EQ(s.grayGainG2, 128);
    EXPECT_EQ(s.grayGainB, 255);
  }
}

TEST(FramePipelineTest, AutoWhiteBalanceOnceClearsItsFlagsAllFramesKeepsThem) {
  for (bool once : {true, false}) {
    Images im(8, 8);
    for (int y = 0; y < 8; ++y) {  // phase 0: G B / R G with R 50, G 100, B 200
      for (int x = 0; x < 8; ++x) {
        im.raw8.Row(y)[x] = (y & 1) == (x & 1) ? 100 : (y & 1) ? 50 : 200;
      }
    }
    FilterSettings s = NeutralSettings(0);
    s.autoWhiteBalance = 1;
    s.whiteBalanceOnce[0] = s.whiteBalanceOnce[1] = once ? 1 : 0;
    int refreshes = 0;
    FramePipelineHooks hooks;
    hooks.refreshFilterDialog = [&] { ++refreshes; };
    RunFramePipeline(im.View(), s, kColorClassBgr24, 0, Features(0, 0), hooks);
    EXPECT_EQ(s.bayerGainRed, 200);
    EXPECT_EQ(s.bayerGainBlue, 50);
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(s.autoWhiteBalance, once ? 0 : 1);
    EXPECT_EQ(s.whiteBalanceOnce[0], 0);
    // The new gains are already used for this frame: every colour is 100.
    EXPECT_EQ(im.bgr24.Row(4)[3 * 4 + 0], 100);
    EXPECT_EQ(im.bgr24.Row(4)[3 * 4 + 2], 100);
  }
}

TEST(FramePipelineTest, DeepClassesKeepTheOuterTwoRowsAndColumns) {
  for (int colorClass : {kColorClassBgr48, kColorClassBgr64}) {
    Images im(8, 7);
    DibImage& frame = colorClass == kColorClassBgr48 ? im.bgr48 : im.bgr64;
    std::memset(frame.Pixels(), 0xA5, frame.ImageSize());
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 8; ++x) {
        const uint16_t v = 700;
        std::memcpy(im.raw16.Row(y) + 2 * x, &v, 2);
      }
    }
    FilterSettings s = NeutralSettings(3);
    ASSERT_EQ(RunFramePipeline(im.View(), s, colorClass, 1, Features(0, 0)), &frame);
    const int bpp = frame.BytesPerPixel();
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 8; ++x) {
        uint16_t sample;
        std::memcpy(&sample, frame.Row(y) + bpp * x, 2);
        const bool interior = x >= 2 && x <= 5 && y >= 2 && y <= 4;
        EXPECT_EQ(sample, interior ? 700 : 0xA5A5) << x << "," << y;
        if (bpp == 8) {
          uint16_t fourth;
          std::memcpy(&fourth, frame.Row(y) + bpp * x + 6, 2);
          EXPECT_EQ(fourth, 0xA5A5);
        }
      }
    }
  }
}

// Hue/saturation, gamma, contrast, sharpness and brightness in that order,
// sharpness reading a copy made into the work image.
TEST(FramePipelineTest, FiltersRunInOrderOnTheFrameImage) {
  Images im(12, 10);
  im.FillRaw8(21);
  FilterSettings s = NeutralSettings(0);
  s.hue = 40;
  s.saturation = -30;
  s.gamma = 80;
  s.contrast = 20;
  s.sharpness = 7;
  s.brightness = -40;
  DibImage* frame = RunFramePipeline(im.View(), s, kColorClassBgr24, 0, Features(0, 0));
  ASSERT_EQ(frame, &im.bgr24);

  DibImage expected, copy;
  expected.Create(12, 10, 24);
  const std::vector<uint8_t> demosaiced = DirectDemosaic(im.raw8, 24, BayerGains{0, 100, 100, 100});
  std::memcpy(expected.Pixels(), demosaiced.data(), demosaiced.size());
  HslAdjust hsl{40, 0, -30};
  const HslAdjust* hslRecord = &hsl;
  expected.ConvertRegion(HueSaturationBgr8Routine, &expected, nullptr, 0, 0, &hslRecord);
  int value = 80;
  int* valueRecord = &value;
  expected.ConvertRegion(GammaBgr8Routine, &expected, nullptr, 0, 0, &valueRecord);
  value = 20;
  expected.ConvertRegion(ContrastBgr8Routine, &expected, nullptr, 0, 0, &valueRecord);
  copy.CopyFormat(&expected);
  std::memcpy(copy.Pixels(), expected.Pixels(), expected.ImageSize());
  value = 7;
  expected.ConvertRegion(SharpnessBgr8Routine, &copy, nullptr, 0, 0, &valueRecord);
  value = -40;
  expected.ConvertRegion(BrightnessBgr8Routine, &expected, nullptr, 0, 0, &valueRecord);
  EXPECT_EQ(Bytes(*frame), Bytes(expected));
  EXPECT_EQ(im.work.Width(), 12) << "the work image takes the frame's format";
}

TEST(FramePipelineTest, AutoExposureSeesTheRawImageFirst) {
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    Images im(6, 6);
    FilterSettings s = NeutralSettings();
    DibImage* seen = nullptr;
    FramePipelineHooks hooks;
    hooks.autoExposure = [&](DibImage& raw) { seen = &raw; };
    RunFramePipeline(im.View(), s, colorClass, 1, Features(0, 0), hooks);
    EXPECT_EQ(seen, IsDeepClass(colorClass) ? &im.raw16 : &im.raw8) << colorClass;
  }
}

TEST(FramePipelineTest, MissingImagesOrUnknownClassGiveNoFrame) {
  Images im(6, 6);
  FilterSettings s = NeutralSettings();
  FrameImages view = im.View();
  EXPECT_EQ(RunFramePipeline(view, s, 6, 0, Features(0, 0)), nullptr);
  EXPECT_EQ(RunFramePipeline(view, s, -1, 0, Features(0, 0)), nullptr);
  view.bgr32 = nullptr;
  EXPECT_EQ(RunFramePipeline(view, s, kColorClassBgr32, 0, Features(0, 0)), nullptr);
  DibImage empty;
  view.raw16 = &empty;
  EXPECT_EQ(RunFramePipeline(view, s, kColorClassBgr48, 0, Features(0, 0)), nullptr);
}

TEST(RoutineSelectionTest, DemosaicAndGrayGainForms) {
  const int32_t both = kCpuMmx | kCpuSse2;
  struct Case {
    int32_t reported, usable;
    int red, green, blue, bpp;
    VectorForm demosaic, gray;
  };
  const Case cases[] = {
      {both, both, 100, 100, 100, 3, VectorForm::kSse2, VectorForm::kSse2},
      {both, both, 200, 200, 200, 3, VectorForm::kSse2, VectorForm::kSse2},
      {both, both, 201, 100, 100, 3, VectorForm::kScalar, VectorForm::kSse2},
      {both, both, 100, 201, 100, 3, VectorForm::kScalar, VectorForm::kSse2},
      {both, both, 100, 100, 100, 4, VectorForm::kScalar, VectorForm::kSse2},
      // SSE2 reported but its probe faulted: MMX.
      {both, kCpuMmx, 100, 100, 100, 3, VectorForm::kMmx, VectorForm::kMmx},
      // Usable without being reported does not count.
      {kCpuMmx, both, 100, 100, 100, 3, VectorForm::kMmx, VectorForm::kMmx},
      {0, 0, 100, 100, 100, 3, VectorForm::kScalar, VectorForm::kScalar},
  };
  for (const Case& c : cases) {
    const CpuFeatures f = Features(c.reported, c.usable);
    EXPECT_EQ(ChooseDemosaicForm(f, c.red, c.green, c.blue, c.bpp), c.demosaic)
        << c.reported << "/" << c.usable << " " << c.red << " " << c.bpp;
    EXPECT_EQ(ChooseGrayGainForm(f), c.gray);
  }
}

}  // namespace
}  // namespace varnel::test

namespace varnel::test {
namespace {

// Regions run through the container's clipping: a region partly outside the
// source is cut to it, and one wholly outside runs nothing.
TEST(ClippedRegionTest, RoutinesSeeOnlyTheClippedRegion) {
  DibImage raw, out;
  raw.Create(10, 8, 8);
  out.Create(10, 8, 24);
  std::memset(raw.Pixels(), 90, raw.ImageSize());
  BayerGains gains{0, 100, 100, 100};
  const BayerGains* record = &gains;
  const PixelRect partly{4, 3, 30, 30};
  for (RegionRoutine r :
       {DemosaicInteriorScalarRoutine, DemosaicInteriorSse2Routine, DemosaicBorderRoutine}) {
    EXPECT_EQ(out.ConvertRegion(r, &raw, &partly, 4, 3, &record), 1);
  }
  // The region is cut to columns 4..9 and picture rows 3..7, which the
  // container hands over as buffer rows 0..4; it is demosaiced as a uniform
  // picture of its own and the rest of the destination is untouched.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(out.Row(y)[3 * x + 1], x >= 4 && y < 5 ? 90 : 0) << x << "," << y;
    }
  }
  const PixelRect outside{20, 0, 30, 8};
  std::memset(out.Pixels(), 0x11, out.ImageSize());
  EXPECT_EQ(out.ConvertRegion(DemosaicBorderRoutine, &raw, &outside, 0, 0, &record), 0);
  EXPECT_EQ(out.ConvertRegion(DemosaicBorderRoutine, &raw, nullptr, 10, 0, &record), 0);
  for (size_t i = 0; i < out.ImageSize(); ++i) ASSERT_EQ(out.Pixels()[i], 0x11);
}

}  // namespace
}  // namespace varnel::test
