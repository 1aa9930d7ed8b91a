// Colour engine benchmarks: one 8-bit raw frame through ColorConverter's
// ProcessFrame (by SubmitFrame) with the SSE2 5x5 kernels at the default
// gains, at other gains, with the colour matrix on top (each also with the
// AVX2 form), and with the scalar bilinear forms; beside them OpenCV's
// bilinear Bayer conversion to 32-bit pixels (on one thread, like the
// engine) and a memcpy of the 32-bit output (the memory floor). Throughput is reported in pixels
// per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/color_converter.h"

#if defined(VARNEL_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace varnel {
namespace {

// Smooth gradients with some noise, so that neither the limits nor the
// zero clamps dominate.
std::vector<uint8_t> Mosaic(int w, int h) {
  std::vector<uint8_t> m(static_cast<size_t>(w) * h);
  std::mt19937 rng(3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      m[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(((x + y) >> 4) + (rng() & 31));
  }
  return m;
}

enum class Path { kSse2, kSse2Gains, kSse2Matrix, kAvx2, kAvx2Gains, kAvx2Matrix, kScalar };

void EngineProcessFrame(benchmark::State& state, Path path) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  ColorConverter engine;
  engine.SetSize(w, h);
  engine.SetFormat(kEngineFormatBgra32);
  engine.SetVectorFormsAllowed(path != Path::kScalar);
  const bool avx2 = path == Path::kAvx2 || path == Path::kAvx2Gains || path == Path::kAvx2Matrix;
  engine.SetAvx2Allowed(avx2);
  if (path != Path::kScalar && !engine.UsesVectorForms()) {
    state.SkipWithError("processor without SSE2");
    return;
  }
  if (avx2 && !engine.UsesAvx2()) {
    state.SkipWithError("processor without AVX2");
    return;
  }
  if (path == Path::kSse2Gains || path == Path::kAvx2Gains) {
    // Gains other than x1, one of them past the 16-bit product limit.
    engine.SetRedGain(150);
    engine.SetBlueGain(190);
  }
  if (path == Path::kSse2Matrix || path == Path::kAvx2Matrix) {
    engine.SetContrast(3);
    engine.SetSaturation(2);
    engine.SetHue(15);
  }
  engine.Allocate();
  // Without two-tap order, 16-bit samples or hot pixels the engine does not
  // write into the frame, so one frame serves every iteration.
  std::vector<uint8_t> frame = Mosaic(w, h);
  for (auto _ : state) {
    engine.SubmitFrame(frame.data(), frame.size());
    benchmark::DoNotOptimize(engine.OutputBuffer());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(w) * h);
}

void MemcpyOutput(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0)) * state.range(1) * 4;
  std::vector<uint8_t> src(bytes, 1), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

#if defined(VARNEL_HAVE_OPENCV)
void OpenCvBayerToBgra(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  std::vector<uint8_t> m = Mosaic(w, h);
  cv::Mat src(h, w, CV_8UC1, m.data());
  cv::Mat dst;
  cv::setNumThreads(1);
  for (auto _ : state) {
    cv::cvtColor(src, dst, cv::COLOR_BayerGR2BGRA);
    benchmark::DoNotOptimize(dst.data);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(w) * h);
}
#endif

// 2048 x 1536, and 640 x 480, whose frame and output stay in the second-level
// cache (the arithmetic alone, without the memory traffic).
const bool kRegistered = [] {
  const std::pair<const char*, Path> paths[] = {
      {"BM_EngineProcessFrame/sse2", Path::kSse2},
      {"BM_EngineProcessFrame/sse2_gains", Path::kSse2Gains},
      {"BM_EngineProcessFrame/sse2_matrix", Path::kSse2Matrix},
      {"BM_EngineProcessFrame/avx2", Path::kAvx2},
      {"BM_EngineProcessFrame/avx2_gains", Path::kAvx2Gains},
      {"BM_EngineProcessFrame/avx2_matrix", Path::kAvx2Matrix},
      {"BM_EngineProcessFrame/scalar", Path::kScalar}};
  for (const auto& [name, path] : paths) {
    benchmark::RegisterBenchmark(name, EngineProcessFrame, path)
        ->Args({2048, 1536})
        ->Args({640, 480});
  }
  benchmark::RegisterBenchmark("BM_EngineReference/memcpy_output", MemcpyOutput)
      ->Args({2048, 1536})
      ->Args({640, 480});
#if defined(VARNEL_HAVE_OPENCV)
  benchmark::RegisterBenchmark("BM_EngineReference/opencv_bayer_bgra", OpenCvBayerToBgra)
      ->Args({2048, 1536})
      ->Args({640, 480});
#endif
  return true;
}();

}  // namespace
}  // namespace varnel
