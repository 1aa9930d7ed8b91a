// Pixel conversion benchmarks: the 8-bit demosaic in its three forms beside
// OpenCV's bilinear Bayer conversion and a memcpy of the output (the memory
// floor), and the whole frame pipeline per colour class with the filters off
// and on. Throughput is reported in pixels per second; the pipeline also
// reports "sata_x", how many times faster than a 550 MB/s link delivers the
// raw frame it converts it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/cpu_features.h"
#include "imaging/demosaic.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routines.h"

#if defined(VARNEL_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace varnel {
namespace {

constexpr double kSataBytesPerSecond = 550e6;

// Sizes: the common 2048 x 1536 and the largest capture windows of the models.
const std::vector<std::pair<int, int>> kDemosaicSizes = {{2048, 1536}, {5000, 8192}};
const std::vector<std::pair<int, int>> kModelSizes = {{752, 480},   {1280, 1024}, {1360, 1024},
                                                      {1600, 1200}, {2048, 1536}, {2456, 2038},
                                                      {2560, 1920}, {5000, 5000}, {5000, 8192}};

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(1);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// A natural-looking mosaic: smooth gradients with some noise, so that the
// saturation paths are not the common case.
void FillMosaic(DibImage& image) {
  std::mt19937 rng(7);
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < image.Width() * image.BytesPerPixel(); ++x) {
      row[x] = static_cast<uint8_t>(((x + y) >> 3) + (rng() & 15));
    }
  }
}

void SetPixelCounters(benchmark::State& state, int w, int h) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(w) * h);
}

void DemosaicBgr24(benchmark::State& state, RegionRoutine interior, bool (*available)(),
                   int32_t bit) {
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  if (available != nullptr && (!available() || !CpuUsable(cpu, bit))) {
    state.SkipWithError("form not available on this processor");
    return;
  }
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw, out;
  raw.Create(w, h, 8);
  out.Create(w, h, 24);
  FillMosaic(raw);
  BayerGains gains{0, 100, 100, 100};
  const BayerGains* record = &gains;
  for (auto _ : state) {
    out.ConvertRegion(interior, &raw, nullptr, 0, 0, &record);
    out.ConvertRegion(DemosaicBorderRoutine, &raw, nullptr, 0, 0, &record);
    benchmark::DoNotOptimize(out.Pixels());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

// The border pass alone (the two outer rows and columns, always scalar).
void DemosaicBorder(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw, out;
  raw.Create(w, h, 8);
  out.Create(w, h, 24);
  FillMosaic(raw);
  BayerGains gains{0, 100, 100, 100};
  const BayerGains* record = &gains;
  for (auto _ : state) {
    out.ConvertRegion(DemosaicBorderRoutine, &raw, nullptr, 0, 0, &record);
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

void CopyBgr24(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const size_t bytes = static_cast<size_t>(DibImage::StrideFor(w, 24)) * h;
  std::vector<uint8_t> src = RandomBytes(bytes), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

#if defined(VARNEL_HAVE_OPENCV)
void OpenCvBayerToBgr(benchmark::State& state) {
  cv::setNumThreads(1);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw;
  raw.Create(w, h, 8);
  FillMosaic(raw);
  const cv::Mat mosaic(h, w, CV_8UC1, raw.Pixels(), raw.Stride());
  cv::Mat out(h, w, CV_8UC3);
  for (auto _ : state) {
    cv::cvtColor(mosaic, out, cv::COLOR_BayerGB2BGR);
    benchmark::DoNotOptimize(out.data);
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}
#endif

// The whole pipeline of one colour class on a frame lying in its raw image.
void FramePipeline(benchmark::State& state, int colorClass, bool filtersOn) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw8, raw16, bgr24, bgr32, bgr48, bgr64, work;
  FrameImages images{&raw8, &raw16, &bgr24, &bgr32, &bgr48, &bgr64, &work};
  const bool deep = IsDeepClass(colorClass);
  DibImage& raw = deep ? raw16 : raw8;
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
  DibImage* frames[] = {&raw8, &raw16, &bgr24, &bgr32, &bgr48, &bgr64};
  if (colorClass >= kColorClassBgr24) frames[colorClass]->Create(w, h, bits[colorClass]);
  if (colorClass == kColorClassMono8) bgr24.Create(w, h, 24);
  work.CopyFormat(frames[colorClass]);

  FilterSettings settings{};
  settings.bayerGainRed = settings.bayerGainGreen = settings.bayerGainBlue = 100;
  settings.gamma = 100;
  settings.grayGainR = settings.grayGainG1 = settings.grayGainG2 = settings.grayGainB = 128;
  if (filtersOn) {
    settings.brightness = 20;
    settings.contrast = 10;
    settings.hue = 30;
    settings.saturation = 20;
    settings.sharpness = 10;
    settings.gamma = 120;
    settings.bayerGainRed = 130;
    settings.bayerGainBlue = 90;
    settings.grayMode = 1;
    settings.grayGainR = 140;
    settings.grayGainB = 120;
  }
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunFramePipeline(images, settings, colorClass, 1, cpu));
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
  const double rawBytes = static_cast<double>(raw.Stride()) * h;
  state.counters["sata_x"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * rawBytes / kSataBytesPerSecond,
                         benchmark::Counter::kIsRate);
}

// One colour filter on a 24-bit frame (sharpness from a copy, the others in
// place), to show what each costs inside the filters-on pipeline.
void ColorFilter(benchmark::State& state, RegionRoutine routine, int kind) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage frame, copy;
  frame.Create(w, h, 24);
  FillMosaic(frame);
  copy.CopyFormat(&frame);
  std::memcpy(copy.Pixels(), frame.Pixels(), frame.ImageSize());
  HslAdjust hsl{30, 0, 20};
  int value = kind;
  void* record = kind == 0 ? static_cast<void*>(&hsl) : static_cast<void*>(&value);
  for (auto _ : state) {
    frame.ConvertRegion(routine, routine == SharpnessBgr8Routine ? &copy : &frame, nullptr, 0, 0,
                        &record);
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

void ApplySizes(benchmark::internal::Benchmark* b, const std::vector<std::pair<int, int>>& sizes) {
  for (const auto& [w, h] : sizes) b->Args({w, h});
  b->Unit(benchmark::kMillisecond);
}

// Registered at start-up so that the names carry the form.
const bool kRegistered = [] {
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/scalar", DemosaicBgr24,
                                          DemosaicInteriorScalarRoutine, nullptr, 0),
             kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/mmx", DemosaicBgr24,
                                          DemosaicInteriorMmxRoutine, HaveDemosaicMmx, kCpuMmx),
             kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/sse2", DemosaicBgr24,
                                          DemosaicInteriorSse2Routine, HaveDemosaicSse2, kCpuSse2),
             kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/avx2", DemosaicBgr24,
                                          DemosaicInteriorAvx2Routine, HaveDemosaicAvx2, kCpuSse2),
             kDemosaicSizes);
#if defined(VARNEL_HAVE_OPENCV)
  ApplySizes(benchmark::RegisterBenchmark("BM_OpenCvBayerToBgr", OpenCvBayerToBgr), kDemosaicSizes);
#endif
  ApplySizes(benchmark::RegisterBenchmark("BM_CopyBgr24", CopyBgr24), kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBorder", DemosaicBorder), kDemosaicSizes);
  const std::pair<const char*, std::pair<RegionRoutine, int>> filters[] = {
      {"BM_ColorFilter/hue_saturation", {HueSaturationBgr8Routine, 0}},
      {"BM_ColorFilter/gamma", {GammaBgr8Routine, 120}},
      {"BM_ColorFilter/contrast", {ContrastBgr8Routine, 10}},
      {"BM_ColorFilter/sharpness", {SharpnessBgr8Routine, 10}},
      {"BM_ColorFilter/brightness", {BrightnessBgr8Routine, 20}}};
  for (const auto& [name, form] : filters) {
    ApplySizes(benchmark::RegisterBenchmark(name, ColorFilter, form.first, form.second),
               {{2048, 1536}});
  }
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (bool on : {false, true}) {
      const std::string name = "BM_FramePipeline/class" + std::to_string(colorClass) +
                               (on ? "/filters_on" : "/filters_off");
      ApplySizes(benchmark::RegisterBenchmark(name.c_str(), FramePipeline, colorClass, on),
                 colorClass == kColorClassBgr24 && !on
                     ? kModelSizes
                     : std::vector<std::pair<int, int>>{{2048, 1536}});
    }
  }
  return true;
}();

}  // namespace
}  // namespace varnel
