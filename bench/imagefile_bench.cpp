// File writer benchmarks: one 24-bit 2048 x 1536 frame saved as JPEG at
// quality 70 and as PNG through SaveImageFile, each beside a plain use of the
// same library on the same pixels with the same settings (the reference the
// writer is held to), all writing real files into one temporary folder. Beside
// them, to show what the writer's fixed settings cost: a baseline JPEG of the
// same quality, and a PNG at zlib's fastest level. A 16-bit mono PNG shows the
// cost of the sample conversion. Throughput is reported in pixels per second.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "imagefile/dib_image.h"
#include "imagefile/save_image_file.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

// A scene like a camera's: smooth shading in every channel with some sensor
// noise, so that neither format compresses it to nothing.
void FillScene(DibImage& image) {
  std::mt19937 rng(7);
  const bool deep = image.BitCount() == 16;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < image.Width(); ++x) {
      if (deep) {
        const int v = ((x * 700 / kWidth + y * 300 / kHeight) + (rng() & 15)) & 1023;
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        continue;
      }
      const int noise = static_cast<int>(rng() & 7);
      row[3 * x] = static_cast<uint8_t>(x * 200 / kWidth + noise);
      row[3 * x + 1] = static_cast<uint8_t>(y * 220 / kHeight + noise);
      row[3 * x + 2] = static_cast<uint8_t>((x + y) * 120 / (kWidth + kHeight) + 60 + noise);
    }
  }
}

const DibImage& Frame(int bitCount) {
  static DibImage frames[2];
  DibImage& frame = frames[bitCount == 16 ? 1 : 0];
  if (frame.Empty()) {
    frame.Create(kWidth, kHeight, static_cast<uint16_t>(bitCount));
    FillScene(frame);
  }
  return frame;
}

std::string OutputPath(const char* name) {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() /
                 ("varnel_imagefile_bench_" + std::to_string(std::random_device{}()));
    fs::create_directories(d);
    return d;
  }();
  return (dir / name).string();
}

void SetPixelCounters(benchmark::State& state) {
  state.counters["pixels/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void WriterSave(benchmark::State& state, int bitCount, int format) {
  const DibImage& frame = Frame(bitCount);
  const std::string path = OutputPath(format == kSaveFormatPng ? "writer.png" : "writer.jpg");
  const int colorClass = bitCount == 16 ? 1 : 2;
  const int bits = bitCount == 16 ? 10 : 8;
  for (auto _ : state) {
    if (!SaveImageFile(path.c_str(), &frame, colorClass, bits, format)) {
      state.SkipWithError("save failed");
      return;
    }
  }
  SetPixelCounters(state);
}

// cjpeg's path: the rows red first (as cjpeg reads them from a PPM, converted
// before timing), the standard file destination, defaults, quality with
// baseline tables, the simple progression script.
void ReferenceJpeg(benchmark::State& state, bool progressive) {
  const DibImage& frame = Frame(24);
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * 3 * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* s = frame.Row(y);
    uint8_t* d = rgb.data() + static_cast<size_t>(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x) {
      d[3 * x] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x];
    }
  }
  const std::string path = OutputPath(progressive ? "reference.jpg" : "baseline.jpg");
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the output");
      return;
    }
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 70, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
      JSAMPROW row = rgb.data() + static_cast<size_t>(info.next_scanline) * kWidth * 3;
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
  }
  SetPixelCounters(state);
}

// A plain libpng write of the same rows: standard I/O, the default
// compression and filters (unless `level` says otherwise), blue-first rows
// turned by libpng, 16-bit samples widened and byte-swapped by libpng.
void ReferencePng(benchmark::State& state, int bitCount, int level) {
  const DibImage& frame = Frame(bitCount);
  const std::string path = OutputPath("reference.png");
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file == nullptr || setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      return;
    }
    png_init_io(png, file);
    if (level >= 0) png_set_compression_level(png, level);
    png_set_IHDR(png, info, kWidth, kHeight, bitCount == 16 ? 16 : 8,
                 bitCount == 16 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bitCount == 16) {
      png_color_8 shift{};
      shift.gray = 12;  // moves 10-bit samples up by 4, as the writer does
      png_set_shift(png, &shift);
      png_set_swap(png);
    } else {
      png_set_bgr(png);
    }
    for (int y = 0; y < kHeight; ++y) png_write_row(png, frame.Row(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
  }
  SetPixelCounters(state);
}

BENCHMARK_CAPTURE(WriterSave, jpeg70_24, 24, kSaveFormatJpeg70)
    ->Name("BM_Jpeg70/writer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReferenceJpeg, progressive, true)
    ->Name("BM_Jpeg70/libjpeg_progressive")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReferenceJpeg, baseline, false)
    ->Name("BM_Jpeg70/libjpeg_baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(WriterSave, png_24, 24, kSaveFormatPng)
    ->Name("BM_Png24/writer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReferencePng, level_default, 24, -1)
    ->Name("BM_Png24/libpng")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReferencePng, level_1, 24, 1)
    ->Name("BM_Png24/libpng_level1")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(WriterSave, png_16, 16, kSaveFormatPng)
    ->Name("BM_PngMono16/writer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReferencePng, mono16, 16, -1)
    ->Name("BM_PngMono16/libpng")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace varnel
