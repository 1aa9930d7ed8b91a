// The frames and settings of the pipeline benchmarks, shared by the Google
// Benchmark program (varnel_bench) and the plain timing program that is also
// built for Windows (varnel_pipeline_timing), so that both measure the same
// work.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/filter_settings.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pixel_format.h"

namespace varnel::bench {

// Link rate against which "sata_x" is counted.
inline constexpr double kSataBytesPerSecond = 550e6;

// The largest capture windows of the models, and the common 2048 x 1536.
inline const std::vector<std::pair<int, int>> kModelSizes = {
    {752, 480},   {1280, 1024}, {1360, 1024}, {1600, 1200}, {2048, 1536},
    {2456, 2038}, {2560, 1920}, {5000, 5000}, {5000, 8192}};

// A natural-looking mosaic: smooth gradients with some noise, so that the
// saturation paths are not the common case.
inline void FillMosaic(DibImage& image) {
  std::mt19937 rng(7);
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < image.Width() * image.BytesPerPixel(); ++x) {
      row[x] = static_cast<uint8_t>(((x + y) >> 3) + (rng() & 15));
    }
  }
}

// Which filters a pipeline benchmark turns on: none, all of them, or one.
enum class Filters { kOff, kOn, kHueSaturation, kMaps, kSharpness, kBrightness };

inline FilterSettings SettingsFor(Filters filters) {
  FilterSettings s{};
  s.bayerGainRed = s.bayerGainGreen = s.bayerGainBlue = 100;
  s.gamma = 100;
  s.grayGainR = s.grayGainG1 = s.grayGainG2 = s.grayGainB = 128;
  if (filters == Filters::kOn) {
    s.bayerGainRed = 130;
    s.bayerGainBlue = 90;
    s.grayMode = 1;
    s.grayGainR = 140;
    s.grayGainB = 120;
  }
  if (filters == Filters::kOn || filters == Filters::kHueSaturation) {
    s.hue = 30;
    s.saturation = 20;
  }
  if (filters == Filters::kOn || filters == Filters::kMaps) {
    s.contrast = 10;
    s.gamma = 120;
  }
  if (filters == Filters::kOn || filters == Filters::kSharpness) s.sharpness = 10;
  if (filters == Filters::kOn || filters == Filters::kBrightness) s.brightness = 20;
  return s;
}

// The instance's images for one class and size, the raw frame filled in.
class PipelineFrame {
 public:
  PipelineFrame(int colorClass, int w, int h) : colorClass_(colorClass) {
    const bool deep = IsDeepClass(colorClass);
    DibImage& raw = deep ? raw16_ : raw8_;
    raw.Create(w, h, deep ? 16 : 8);
    FillMosaic(raw);
    if (deep) {
      // Keep the deep samples within 10 bits.
      for (int y = 0; y < h; ++y) {
        uint8_t* row = raw.Row(y);
        for (int x = 0; x < w; ++x) row[2 * x + 1] &= 3;
      }
    }
    const uint16_t bits[] = {8, 16, 24, 32, 48, 64};
    DibImage* frames[] = {&raw8_, &raw16_, &bgr24_, &bgr32_, &bgr48_, &bgr64_};
    if (colorClass >= kColorClassBgr24) frames[colorClass]->Create(w, h, bits[colorClass]);
    if (colorClass == kColorClassMono8) bgr24_.Create(w, h, 24);
    work_.CopyFormat(frames[colorClass]);
    rawBytes_ = static_cast<double>(raw.Stride()) * h;
  }

  DibImage* Run(FilterSettings& settings, const CpuFeatures& cpu) {
    FrameImages images{&raw8_, &raw16_, &bgr24_, &bgr32_, &bgr48_, &bgr64_, &work_};
    return RunFramePipeline(images, settings, colorClass_, 1, cpu);
  }
  // Bytes of the raw frame, what the link carries per frame.
  double RawBytes() const { return rawBytes_; }

 private:
  int colorClass_;
  DibImage raw8_, raw16_, bgr24_, bgr32_, bgr48_, bgr64_, work_;
  double rawBytes_ = 0;
};

}  // namespace varnel::bench
