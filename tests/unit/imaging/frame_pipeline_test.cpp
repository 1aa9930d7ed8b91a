// The frame pipeline: order of steps, one-shot requests, routine selection.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
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

// The frame of a class as the steps define it, one whole-image routine after
// the other: the demosaic form the selection picks (interior and border) or
// the deep form, then hue/saturation, gamma, contrast, sharpness reading a
// copy of the frame, brightness.
std::vector<uint8_t> ReferenceFrame(Images& im, const FilterSettings& s, int colorClass,
                                    int bitDepth, const CpuFeatures& cpu) {
  DibImage* raws[] = {&im.raw8, &im.raw16, &im.raw8, &im.raw8, &im.raw16, &im.raw16};
  DibImage& raw = *raws[colorClass];
  const uint16_t bits[] = {8, 16, 24, 32, 48, 64};
  DibImage f, copy;
  f.Create(raw.Width(), raw.Height(), bits[colorClass]);
  if (colorClass <= kColorClassMono16) {
    std::memcpy(f.Pixels(), raw.Pixels(), raw.ImageSize());
  } else {
    DibImage* target[] = {nullptr, nullptr, &im.bgr24, &im.bgr32, &im.bgr48, &im.bgr64};
    // The deep classes keep in their outer rows and columns what the image held.
    std::memcpy(f.Pixels(), target[colorClass]->Pixels(), f.ImageSize());
    BayerGains g{s.bayerPhase, s.bayerGainRed, s.bayerGainGreen, s.bayerGainBlue};
    const BayerGains* record = &g;
    if (colorClass <= kColorClassBgr32) {
      const VectorForm form = ChooseDemosaicForm(cpu, g.red, g.green, g.blue, f.BytesPerPixel());
      const RegionRoutine interior = form == VectorForm::kSse2  ? DemosaicInteriorSse2Routine
                                     : form == VectorForm::kMmx ? DemosaicInteriorMmxRoutine
                                                                : DemosaicInteriorScalarRoutine;
      f.ConvertRegion(interior, &raw, nullptr, 0, 0, &record);
      f.ConvertRegion(DemosaicBorderRoutine, &raw, nullptr, 0, 0, &record);
    } else {
      f.ConvertRegion(DeepDemosaicFor(bitDepth), &raw, nullptr, 0, 0, &record);
    }
  }
  const bool wide = IsDeepClass(colorClass), colour = IsColorClass(colorClass);
  auto run = [&](RegionRoutine mono8, RegionRoutine mono16, RegionRoutine bgr8, RegionRoutine bgr16,
                 const DibImage& source, int value) {
    const RegionRoutine r = colour ? (wide ? bgr16 : bgr8) : (wide ? mono16 : mono8);
    int* record = &value;
    f.ConvertRegion(r, &source, nullptr, 0, 0, &record);
  };
  if (colour && (s.hue != 0 || s.saturation != 0)) {
    HslAdjust adjust{s.hue, 0, s.saturation};
    const HslAdjust* record = &adjust;
    f.ConvertRegion(wide ? HueSaturationBgr16Routine : HueSaturationBgr8Routine, &f, nullptr, 0, 0,
                    &record);
  }
  if (s.gamma != 100) {
    run(GammaMono8Routine, GammaMono16Routine, GammaBgr8Routine, GammaBgr16Routine, f, s.gamma);
  }
  if (s.contrast != 0) {
    run(ContrastMono8Routine, ContrastMono16Routine, ContrastBgr8Routine, ContrastBgr16Routine, f,
        s.contrast);
  }
  if (s.sharpness != 0) {
    copy.CopyFormat(&f);
    std::memcpy(copy.Pixels(), f.Pixels(), f.ImageSize());
    run(SharpnessMono8Routine, SharpnessMono16Routine, SharpnessBgr8Routine, SharpnessBgr16Routine,
        copy, s.sharpness);
  }
  if (s.brightness != 0) {
    run(BrightnessMono8Routine, BrightnessMono16Routine, BrightnessBgr8Routine,
        BrightnessBgr16Routine, f, s.brightness);
  }
  return Bytes(f);
}

// Fault caught: the pipeline's banded and fused run (maps joined into one
// table, hue and saturation and the maps writing the work copy, sharpness with
// brightness folded in, vector kernels, the demosaic form chosen per class and
// gains) differs from running the steps one after the other over the whole
// image, for some class, combination of filters, instruction set, band
// boundary, odd width, or samples above the 10 bits the 16-bit filters read.
TEST(FramePipelineTest, FusedBandsEqualTheStepsOneAfterTheOther) {
  struct Filters {
    const char* name;
    int hue, saturation, gamma, contrast, sharpness, brightness;
  };
  const Filters combos[] = {
      {"all on", 30, 20, 120, 10, 10, 20},
      {"all on, strong", -170, -60, 35, -90, 30, -200},
      {"hue only", 200, 0, 100, 0, 0, 0},
      {"saturation only", 0, -255, 100, 0, 0, 0},
      {"gamma only", 0, 0, 55, 0, 0, 0},
      {"contrast and brightness", 0, 0, 100, 60, 0, 77},
      {"sharpness only", 0, 0, 100, 0, 7, 0},
      {"sharpness and brightness", 0, 0, 100, 0, 30, -33},
      {"sharpness, brightness without constants", 0, 0, 100, 0, 12, 250},
      {"hue, gamma, brightness", 45, 10, 140, 0, 0, 100},
      {"all but sharpness", 10, 5, 90, -20, 0, 20},
  };
  CpuFeatures detected{};
  DetectCpuFeatures(&detected);
  const CpuFeatures levels[] = {Features(0, 0), detected};
  // Wide enough that every class runs several bands, with a short last one.
  const int w = 4101, h = 29;
  for (const CpuFeatures& cpu : levels) {
    for (int colorClass = 0; colorClass <= 5; ++colorClass) {
      for (const Filters& c : combos) {
        Images im(w, h);
        im.FillRaw8(colorClass + 3);
        std::mt19937 rng(colorClass);
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < 2 * w; ++x) {
            im.raw16.Row(y)[x] =
                static_cast<uint8_t>(x % 2 == 0 || rng() % 8 == 0 ? rng() : rng() & 3);
          }
        }
        for (DibImage* image : {&im.bgr48, &im.bgr64}) {
          for (size_t i = 0; i < image->ImageSize(); ++i)
            image->Pixels()[i] = static_cast<uint8_t>(rng());
        }
        FilterSettings s = NeutralSettings(colorClass % 4);
        s.bayerGainRed = colorClass == kColorClassBgr24 ? 260 : 130;
        s.bayerGainBlue = 90;
        s.hue = c.hue;
        s.saturation = c.saturation;
        s.gamma = c.gamma;
        s.contrast = c.contrast;
        s.sharpness = c.sharpness;
        s.brightness = c.brightness;
        const int bitDepth = colorClass == kColorClassBgr64 ? 2 : 1;
        const std::vector<uint8_t> expected = ReferenceFrame(im, s, colorClass, bitDepth, cpu);
        DibImage* frame = RunFramePipeline(im.View(), s, colorClass, bitDepth, cpu);
        ASSERT_NE(frame, nullptr);
        ASSERT_EQ(Bytes(*frame), expected)
            << "class " << colorClass << ", " << c.name << ", cpu bits " << cpu.featureBits;
      }
    }
  }
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
