// Pixel conversion benchmarks: the 8-bit demosaic in its forms beside
// OpenCV's bilinear Bayer conversion and a memcpy of the output (the memory
// floor), the 32-bit and deep demosaic, the tone kernels, and the whole frame
// pipeline per colour class with the filters off and on at every model's full
// size, and with one filter at a time. Throughput is reported in pixels per
// second; the pipeline also reports "sata_x", how many times faster than a
// 550 MB/s link delivers the raw frame it converts it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/cpu_features.h"
#include "imaging/demosaic.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pipeline_pool.h"
#include "imaging/pixel_routines.h"
#include "imaging/region_view.h"
#include "imaging/tone_kernels.h"
#include "imaging/tone_map.h"
#include "imaging/tone_tables.h"
#include "pipeline_frames.h"

#if defined(VARNEL_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace varnel {
namespace {

using bench::FillMosaic;
using bench::Filters;
using bench::kModelSizes;
using bench::kSataBytesPerSecond;
using bench::PipelineFrame;
using bench::SettingsFor;

// Sizes: the common 2048 x 1536 and the largest capture windows of the models.
const std::vector<std::pair<int, int>> kDemosaicSizes = {{2048, 1536}, {5000, 8192}};

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(1);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
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

// The whole pipeline of one colour class on a frame lying in its raw image,
// on `threads` threads (0: the default, one a core); the process's pipeline
// workers are held throughout, as a camera instance holds them.
void FramePipeline(benchmark::State& state, int colorClass, Filters filters, int threads = 1) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  PipelineFrame frame(colorClass, w, h);
  FilterSettings settings = SettingsFor(filters);
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  PipelinePool::Hold hold;
  SetFramePipelineThreads(threads);
  state.counters["threads"] = FramePipelineThreads();
  for (auto _ : state) {
    benchmark::DoNotOptimize(frame.Run(settings, cpu));
    benchmark::ClobberMemory();
  }
  SetFramePipelineThreads(1);
  SetPixelCounters(state, w, h);
  state.counters["sata_x"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * frame.RawBytes() / kSataBytesPerSecond,
      benchmark::Counter::kIsRate);
}

// One colour filter on a 24-bit frame (sharpness from a copy, the others in
// place) with the scalar region routines, as a reference for the kernels.
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

bool SimdAvailable(SimdLevel level) {
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  const SimdLevel best = ChooseSimdLevel(cpu);
  return best != SimdLevel::kScalar && (level == SimdLevel::kSse2 || best == level);
}

// The tone kernels over a 24-bit frame, row by row: hue and saturation in
// place, the joined gamma and contrast table in place, sharpness (with
// brightness) from a copy. The AVX-512 forms are those the AVX2 level runs
// where the processor has them; the table's row at the AVX2 level is its
// byte-permute form (AVX-512 VBMI).
enum class Kernel { kHueSaturation, kMap, kSharpen };
enum class KernelForm { kScalar, kSse2, kAvx2, kAvx512 };
void ToneKernel(benchmark::State& state, Kernel kernel, KernelForm form) {
  const bool available = form == KernelForm::kScalar || form == KernelForm::kSse2
                             ? SimdAvailable(SimdLevel::kSse2)
                         : form == KernelForm::kAvx2 ? SimdAvailable(SimdLevel::kAvx2)
                         : kernel == Kernel::kMap    ? HaveAvx512VbmiForms()
                                                     : HaveAvx512Forms();
  if (!available) {
    state.SkipWithError("form not available on this processor");
    return;
  }
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage frame, copy;
  frame.Create(w, h, 24);
  FillMosaic(frame);
  copy.CopyFormat(&frame);
  std::memcpy(copy.Pixels(), frame.Pixels(), frame.ImageSize());
  const HslAdjust hsl{30, 0, 20};
  ToneMap map(255);
  map.Then(BuildGammaTable(120, 255));
  map.Then(BuildContrastTable(10, 255));
  const SharpenVector sharpen = MakeSharpenVector(10, 255);
  const BrightnessVector post = MakeBrightnessVector(20, 255);
  std::vector<uint16_t> scratch(static_cast<size_t>(w) * 3 + 64);
  auto hueSaturation = form == KernelForm::kAvx512 ? HueSaturationRowAvx512
                       : form == KernelForm::kAvx2 ? HueSaturationRowAvx2
                                                   : HueSaturationRowSse2;
  auto sharpenRow = form == KernelForm::kAvx512 ? SharpenRowAvx512
                    : form == KernelForm::kAvx2 ? SharpenRowAvx2
                                                : SharpenRowSse2;
  const SimdLevel mapLevel = form == KernelForm::kAvx512 ? SimdLevel::kAvx2 : SimdLevel::kScalar;
  for (auto _ : state) {
    for (int y = 0; y < h; ++y) {
      uint8_t* row = frame.Row(y);
      switch (kernel) {
        case Kernel::kHueSaturation:
          hueSaturation(row, row, w, 3, hsl);
          break;
        case Kernel::kMap:
          map.ApplyRow(row, row, w, 3, mapLevel);
          break;
        case Kernel::kSharpen:
          if (y >= 2 && y <= h - 3) {
            const uint8_t* rows[4] = {copy.Row(y - 2), copy.Row(y - 1), copy.Row(y),
                                      copy.Row(y + 1)};
            sharpenRow(row, rows, w, 3, sharpen, &post, scratch.data());
          }
          break;
      }
    }
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

// The 32-bit demosaic (the scalar formula, class 3) and the deep demosaic in
// their scalar and vector forms, interior only.
using ScalarBody = int (*)(const RegionView&, const BayerGains&, DemosaicRows);

// The same as the frame pipeline runs it: interior and border band by band,
// so that the border's pixels of a band are written while the band's rows are
// in the cache.
void DemosaicBgr24Bands(benchmark::State& state, ScalarBody interior, SimdLevel level) {
  if (level != SimdLevel::kScalar && !SimdAvailable(level)) {
    state.SkipWithError("form not available on this processor");
    return;
  }
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw, out;
  raw.Create(w, h, 8);
  out.Create(w, h, 24);
  FillMosaic(raw);
  const BayerGains gains{0, 100, 100, 100};
  const RegionView view = MakeRegionView(out.Pixels(), raw.Pixels(), PixelRect{0, 0, w, h}, 0, 0, 3,
                                         1, out.Stride(), raw.Stride());
  const int band = FramePipelineBandRows(out.Stride());
  for (auto _ : state) {
    for (int y = 0; y < h; y += band) {
      const DemosaicRows rows{y, std::min(h, y + band)};
      interior(view, gains, rows);
      DemosaicBorder(view, gains, rows);
    }
    benchmark::DoNotOptimize(out.Pixels());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

void DemosaicBgr32(benchmark::State& state, ScalarBody body, SimdLevel level) {
  if (level != SimdLevel::kScalar && !SimdAvailable(level)) {
    state.SkipWithError("form not available on this processor");
    return;
  }
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw, out;
  raw.Create(w, h, 8);
  out.Create(w, h, 32);
  FillMosaic(raw);
  const BayerGains gains{0, 130, 100, 90};
  const RegionView view = MakeRegionView(out.Pixels(), raw.Pixels(), PixelRect{0, 0, w, h}, 0, 0, 4,
                                         1, out.Stride(), raw.Stride());
  for (auto _ : state) {
    body(view, gains, DemosaicRows{});
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

using DeepBody = int (*)(const RegionView&, const BayerGains&, int, DemosaicRows);
void DemosaicDeep48(benchmark::State& state, DeepBody body, SimdLevel level) {
  if (level != SimdLevel::kScalar && !SimdAvailable(level)) {
    state.SkipWithError("form not available on this processor");
    return;
  }
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage raw, out;
  raw.Create(w, h, 16);
  out.Create(w, h, 48);
  FillMosaic(raw);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) raw.Row(y)[2 * x + 1] &= 3;
  }
  const BayerGains gains{0, 130, 100, 90};
  const RegionView view = MakeRegionView(out.Pixels(), raw.Pixels(), PixelRect{0, 0, w, h}, 0, 0, 6,
                                         2, out.Stride(), raw.Stride());
  for (auto _ : state) {
    body(view, gains, 10, DemosaicRows{});
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, w, h);
}

// A reduction for display and files over a whole frame (the routine picks
// its vector kernel), beside BM_CopyBgr24 as the memory floor of a 24-bit
// output.
void Reduction(benchmark::State& state, RegionRoutine routine, int sourceBits, int targetBits) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  DibImage source, target;
  source.Create(w, h, static_cast<uint16_t>(sourceBits));
  target.Create(w, h, static_cast<uint16_t>(targetBits));
  FillMosaic(source);
  for (auto _ : state) {
    target.ConvertRegion(routine, &source, nullptr, 0, 0);
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
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/sse2_bands", DemosaicBgr24Bands,
                                          DemosaicInteriorSse2, SimdLevel::kSse2),
             kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/avx2_bands", DemosaicBgr24Bands,
                                          DemosaicInteriorAvx2, SimdLevel::kAvx2),
             kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBgr24/avx2", DemosaicBgr24,
                                          DemosaicInteriorAvx2Routine, HaveDemosaicAvx2, kCpuSse2),
             kDemosaicSizes);
#if defined(VARNEL_HAVE_OPENCV)
  ApplySizes(benchmark::RegisterBenchmark("BM_OpenCvBayerToBgr", OpenCvBayerToBgr), kDemosaicSizes);
#endif
  ApplySizes(benchmark::RegisterBenchmark("BM_CopyBgr24", CopyBgr24), kDemosaicSizes);
  ApplySizes(benchmark::RegisterBenchmark("BM_DemosaicBorder", DemosaicBorder), kDemosaicSizes);
  const std::vector<std::pair<int, int>> common = {{2048, 1536}};
  for (const auto& [name, form] :
       std::vector<std::pair<const char*, std::pair<ScalarBody, SimdLevel>>>{
           {"BM_DemosaicBgr32/scalar", {DemosaicInteriorScalar, SimdLevel::kScalar}},
           {"BM_DemosaicBgr32/scalar_sse2", {DemosaicInteriorScalarSse2, SimdLevel::kSse2}},
           {"BM_DemosaicBgr32/scalar_avx2", {DemosaicInteriorScalarAvx2, SimdLevel::kAvx2}}}) {
    ApplySizes(benchmark::RegisterBenchmark(name, DemosaicBgr32, form.first, form.second), common);
  }
  auto deepScalar = [](const RegionView& v, const BayerGains& g, int bits, DemosaicRows rows) {
    return DemosaicDeep(v, g, bits, rows);
  };
  for (const auto& [name, form] :
       std::vector<std::pair<const char*, std::pair<DeepBody, SimdLevel>>>{
           {"BM_DemosaicDeep48/scalar", {deepScalar, SimdLevel::kScalar}},
           {"BM_DemosaicDeep48/sse2", {DemosaicDeepSse2, SimdLevel::kSse2}},
           {"BM_DemosaicDeep48/avx2", {DemosaicDeepAvx2, SimdLevel::kAvx2}}}) {
    ApplySizes(benchmark::RegisterBenchmark(name, DemosaicDeep48, form.first, form.second), common);
  }
  const std::pair<const char*, std::pair<RegionRoutine, int>> filters[] = {
      {"BM_ColorFilter/hue_saturation", {HueSaturationBgr8Routine, 0}},
      {"BM_ColorFilter/gamma", {GammaBgr8Routine, 120}},
      {"BM_ColorFilter/contrast", {ContrastBgr8Routine, 10}},
      {"BM_ColorFilter/sharpness", {SharpnessBgr8Routine, 10}},
      {"BM_ColorFilter/brightness", {BrightnessBgr8Routine, 20}}};
  for (const auto& [name, form] : filters) {
    ApplySizes(benchmark::RegisterBenchmark(name, ColorFilter, form.first, form.second), common);
  }
  const std::pair<const char*, std::pair<Kernel, KernelForm>> kernels[] = {
      {"BM_ToneKernel/hue_saturation/sse2", {Kernel::kHueSaturation, KernelForm::kSse2}},
      {"BM_ToneKernel/hue_saturation/avx2", {Kernel::kHueSaturation, KernelForm::kAvx2}},
      {"BM_ToneKernel/hue_saturation/avx512", {Kernel::kHueSaturation, KernelForm::kAvx512}},
      {"BM_ToneKernel/gamma_contrast_table", {Kernel::kMap, KernelForm::kScalar}},
      {"BM_ToneKernel/gamma_contrast_table/avx512vbmi", {Kernel::kMap, KernelForm::kAvx512}},
      {"BM_ToneKernel/sharpness_brightness/sse2", {Kernel::kSharpen, KernelForm::kSse2}},
      {"BM_ToneKernel/sharpness_brightness/avx2", {Kernel::kSharpen, KernelForm::kAvx2}},
      {"BM_ToneKernel/sharpness_brightness/avx512", {Kernel::kSharpen, KernelForm::kAvx512}}};
  for (const auto& [name, form] : kernels) {
    ApplySizes(benchmark::RegisterBenchmark(name, ToneKernel, form.first, form.second), common);
  }
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (Filters filters : {Filters::kOff, Filters::kOn}) {
      const std::string name = "BM_FramePipeline/class" + std::to_string(colorClass) +
                               (filters == Filters::kOn ? "/filters_on" : "/filters_off");
      ApplySizes(benchmark::RegisterBenchmark(name.c_str(), FramePipeline, colorClass, filters, 1),
                 kModelSizes);
    }
  }
  const std::pair<const char*, std::tuple<RegionRoutine, int, int>> reductions[] = {
      {"BM_Reduce/mono10_to_8", {ReduceMono10To8Routine, 16, 8}},
      {"BM_Reduce/wide48_to_24", {ReduceWideTo24Routine, 48, 24}},
      {"BM_Reduce/wide64_to_24", {ReduceWideTo24Routine, 64, 24}},
      {"BM_Reduce/copy32_to_24", {Copy32To24Routine, 32, 24}}};
  for (const auto& [name, form] : reductions) {
    ApplySizes(benchmark::RegisterBenchmark(name, Reduction, std::get<0>(form), std::get<1>(form),
                                            std::get<2>(form)),
               common);
  }
  // The pipeline split into slabs on several threads (the optional setting):
  // wall time, since the other threads' processor time is not the caller's;
  // each beside the same case on one thread, also in wall time.
  for (int colorClass : {static_cast<int>(kColorClassBgr24), static_cast<int>(kColorClassBgr48)}) {
    for (int threads : {1, 2, 4}) {
      const std::string name = "BM_FramePipelineThreads/class" + std::to_string(colorClass) +
                               "/filters_on/threads" + std::to_string(threads);
      ApplySizes(benchmark::RegisterBenchmark(name.c_str(), FramePipeline, colorClass, Filters::kOn,
                                              threads)
                     ->UseRealTime(),
                 common);
    }
  }
  // One camera with the pipeline workers at their default, one thread a
  // core: wall time, beside the one-thread rows of BM_FramePipeline (whose
  // processor time is one core's).
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (Filters filters : {Filters::kOff, Filters::kOn}) {
      const std::string name = "BM_FramePipelinePool/class" + std::to_string(colorClass) +
                               (filters == Filters::kOn ? "/filters_on" : "/filters_off");
      ApplySizes(benchmark::RegisterBenchmark(name.c_str(), FramePipeline, colorClass, filters, 0)
                     ->UseRealTime(),
                 common);
    }
  }
  // What each filter costs inside the class-2 pipeline (with the demosaic).
  const std::pair<const char*, Filters> single[] = {
      {"BM_FramePipeline/class2/hue_saturation", Filters::kHueSaturation},
      {"BM_FramePipeline/class2/gamma_contrast", Filters::kMaps},
      {"BM_FramePipeline/class2/sharpness", Filters::kSharpness},
      {"BM_FramePipeline/class2/brightness", Filters::kBrightness}};
  for (const auto& [name, filters] : single) {
    ApplySizes(benchmark::RegisterBenchmark(name, FramePipeline, static_cast<int>(kColorClassBgr24),
                                            filters, 1),
               common);
  }
  return true;
}();

}  // namespace
}  // namespace varnel
