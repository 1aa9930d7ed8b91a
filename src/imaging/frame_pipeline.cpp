// The per-frame pipeline of a camera instance.
#include "imaging/frame_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/demosaic.h"
#include "imaging/gray_gain.h"
#include "imaging/pipeline_pool.h"
#include "imaging/pixel_routines.h"
#include "imaging/region_params.h"
#include "imaging/tone_kernels.h"
#include "imaging/tone_map.h"
#include "imaging/tone_tables.h"

namespace varnel {
namespace {

bool Usable(const DibImage* image) { return image != nullptr && !image->Empty(); }

// Runs `routine` over the whole of `source` into `target` at (0, 0), handing it
// the record through a slot as the routines expect.
template <typename Record>
int RunWhole(DibImage& target, RegionRoutine routine, const DibImage& source, Record* record) {
  void* slot = &record;
  return target.ConvertRegion(routine, &source, nullptr, 0, 0, record == nullptr ? nullptr : slot);
}

int RunWhole(DibImage& target, RegionRoutine routine, const DibImage& source) {
  return target.ConvertRegion(routine, &source, nullptr, 0, 0);
}

RegionRoutine DemosaicRoutineFor(DemosaicForm form) {
  switch (form) {
    case DemosaicForm::kAvx2:
      return DemosaicInteriorAvx2Routine;
    case DemosaicForm::kSse2:
      return DemosaicInteriorSse2Routine;
    case DemosaicForm::kMmx:
      return DemosaicInteriorMmxRoutine;
    default:
      return DemosaicInteriorScalarRoutine;
  }
}

RegionRoutine GrayGainRoutineFor(VectorForm form) {
  switch (form) {
    case VectorForm::kSse2:
      return GrayGainsSse2Routine;
    case VectorForm::kMmx:
      return GrayGainsMmxRoutine;
    default:
      return GrayGainsScalarRoutine;
  }
}

// Automatic white balance on the raw image, when requested (step 3).
void RunAutoWhiteBalance(DibImage& raw, FilterSettings& settings, const FramePipelineHooks& hooks) {
  if (settings.autoWhiteBalance == 0) return;
  BayerGains measured{settings.bayerPhase, settings.bayerGainRed, settings.bayerGainGreen,
                      settings.bayerGainBlue};
  // The routine picks 8- or 16-bit samples by the raw image's bytes per pixel
  // and only reads; the raw image is its own destination.
  if (RunWhole(raw, MeasureWhiteBalanceRoutine, raw, &measured) == 1) {
    settings.bayerGainRed = std::min(measured.red, 400);
    settings.bayerGainGreen = std::min(measured.green, 400);
    settings.bayerGainBlue = std::min(measured.blue, 400);
    if (hooks.refreshFilterDialog) hooks.refreshFilterDialog();
  }
  // "Once": the request and both one-shot marks are cleared after one run.
  if (settings.whiteBalanceOnce[0] != 0 && settings.whiteBalanceOnce[1] != 0) {
    settings.autoWhiteBalance = 0;
    settings.whiteBalanceOnce[0] = 0;
    settings.whiteBalanceOnce[1] = 0;
  }
}

// Step 3 for 8-bit raw data over the whole frame: white balance, then
// interior and border (the gray-mode-2 intermediate, and frames whose images
// differ in size).
bool Demosaic8(DibImage& raw8, DibImage& target, FilterSettings& settings, const CpuFeatures& cpu,
               const FramePipelineHooks& hooks) {
  RunAutoWhiteBalance(raw8, settings, hooks);
  BayerGains gains{settings.bayerPhase, settings.bayerGainRed, settings.bayerGainGreen,
                   settings.bayerGainBlue};
  const VectorForm form =
      ChooseDemosaicForm(cpu, gains.red, gains.green, gains.blue, target.BytesPerPixel());
  RunWhole(target, DemosaicRoutineFor(DemosaicFormRun(form)), raw8, &gains);
  RunWhole(target, DemosaicBorderRoutine, raw8, &gains);
  return true;
}

// The whole frame seen as one region, source and destination of equal size.
RegionView WholeView(DibImage& target, const DibImage& source) {
  return MakeRegionView(
      target.Pixels(), source.Pixels(), PixelRect{0, 0, target.Width(), target.Height()}, 0, 0,
      target.BytesPerPixel(), source.BytesPerPixel(), target.Stride(), source.Stride());
}

// Demosaics rows [begin, end) of a frame: the pipeline's producer, run band by
// band so that the filters find the rows in the cache.
using BandDemosaic = std::function<void(int begin, int end)>;

// The 8-bit demosaic of step 3 as bands. The form chosen by the routine
// selection runs; where it asks for the scalar formula and SSE2 is usable the
// vector form of that formula gives the same frame, faster.
BandDemosaic Demosaic8Bands(DibImage& raw8, DibImage& target, const BayerGains& gains,
                            const CpuFeatures& cpu, SimdLevel level) {
  const RegionView view = WholeView(target, raw8);
  const VectorForm form =
      ChooseDemosaicForm(cpu, gains.red, gains.green, gains.blue, target.BytesPerPixel());
  using Interior = int (*)(const RegionView&, const BayerGains&, DemosaicRows);
  Interior interior = nullptr;
  switch (DemosaicFormRun(form)) {
    case DemosaicForm::kAvx2:
      interior = DemosaicInteriorAvx2;
      break;
    case DemosaicForm::kSse2:
      interior = DemosaicInteriorSse2;
      break;
    case DemosaicForm::kMmx:
      // The MMX form has no bands: it runs over the whole frame at once.
      DemosaicInteriorMmx(view, gains);
      break;
    default:
      interior = level == SimdLevel::kAvx2   ? DemosaicInteriorScalarAvx2
                 : level == SimdLevel::kSse2 ? DemosaicInteriorScalarSse2
                                             : DemosaicInteriorScalar;
      break;
  }
  return [view, gains, interior](int begin, int end) {
    if (interior != nullptr) interior(view, gains, DemosaicRows{begin, end});
    DemosaicBorder(view, gains, DemosaicRows{begin, end});
  };
}

BandDemosaic DeepDemosaicBands(DibImage& raw16, DibImage& target, const BayerGains& gains,
                               BitDepthCode bitDepth, SimdLevel level) {
  const RegionView view = WholeView(target, raw16);
  const int bits = bitDepth == 2 ? 12 : bitDepth == 3 ? 14 : bitDepth == 4 ? 16 : 10;
  auto deep = level == SimdLevel::kAvx2   ? DemosaicDeepAvx2
              : level == SimdLevel::kSse2 ? DemosaicDeepSse2
                                          : DemosaicDeep;
  return [view, gains, bits, deep](int begin, int end) {
    deep(view, gains, bits, DemosaicRows{begin, end});
  };
}

// Steps 5 to 9 on the frame image F: hue and saturation, then the sample maps
// gamma and contrast, sharpness reading a copy of F in the work image, and
// brightness. Consecutive sample maps are one lookup table; without sharpness
// brightness joins them. Rows are worked on as the producer hands them over,
// and every row goes through its steps while it is in the cache: hue and
// saturation and the maps write the work image directly when sharpness
// follows (the copy the reference takes before sharpening), and sharpness
// writes F with brightness applied.
class ToneStage {
 public:
  ToneStage(DibImage& frame, DibImage* work, const FilterSettings& settings, int colorClass,
            SimdLevel level)
      : f_(frame),
        level_(level),
        bpp_(frame.BytesPerPixel()),
        wide_(IsDeepClass(colorClass)),
        maxValue_(wide_ ? 1023 : 255),
        pre_(maxValue_),
        post_(maxValue_) {
    hsl_ = (settings.hue != 0 || settings.saturation != 0) && IsColorClass(colorClass);
    // The lightness offset has no setter and stays 0, which leaves lightness
    // unchanged.
    adjust_ = HslAdjust{settings.hue, 0, settings.saturation};
    if (settings.gamma != 100) pre_.Then(BuildGammaTable(settings.gamma, maxValue_));
    if (settings.contrast != 0) pre_.Then(BuildContrastTable(settings.contrast, maxValue_));
    if (settings.sharpness != 0 && work != nullptr) {
      if (work->Empty() || work->Width() != f_.Width() || work->Height() != f_.Height() ||
          work->BitCount() != f_.BitCount()) {
        work->CopyFormat(&f_);
      }
      if (!work->Empty()) {
        work_ = work;
        amount_ = settings.sharpness;
      }
    }
    if (settings.brightness != 0) {
      (work_ != nullptr ? post_ : pre_).Then(BuildBrightnessTable(settings.brightness, maxValue_));
    }
    if (work_ != nullptr) {
      const int w = f_.Width();
      if (level_ != SimdLevel::kScalar) {
        sharpenVector_ = MakeSharpenVector(amount_, maxValue_);
        if (settings.brightness != 0)
          postVector_ = MakeBrightnessVector(settings.brightness, maxValue_);
        scratch16_.resize(static_cast<size_t>(w) * bpp_ + 64);
      }
      if (!sharpenVector_.valid) {
        channels_ = bpp_ == 1 || bpp_ == 2 ? 1 : 3;
        diff_ = BuildSharpnessTable(amount_, maxValue_);
        scratch32_.resize(static_cast<size_t>(w) * channels_);
      }
    }
  }

  bool Empty() const { return !hsl_ && pre_.Identity() && work_ == nullptr; }
  bool Sharpens() const { return work_ != nullptr; }

  // Builds what the maps build on first use, so that copies of the stage
  // share nothing that is written while rows are worked on.
  void Prepare() {
    pre_.Prepare(level_);
    post_.Prepare(level_);
  }

  // Restricts the stage to the rows [begin, end) of a slab of the frame. Rows
  // whose sharpening reads work rows of the neighbouring slab (the first two
  // below a slab above, the last above a slab below) are left for
  // SharpenRows once both slabs are through.
  void LimitToSlab(int begin, int end) {
    doneA_ = begin;
    doneB_ = begin > 0 ? begin + 2 : begin;
    sharpenEnd_ = end < f_.Height() ? end - 1 : end;
  }

  // Rows before `ready` hold their demosaic output (or the frame as it came).
  void RowsReady(int ready) {
    for (; doneA_ < ready; ++doneA_) MapRow(doneA_);
    if (work_ == nullptr) return;
    const int limit = std::min(ready >= f_.Height() ? f_.Height() : ready - 1, sharpenEnd_);
    for (; doneB_ < limit; ++doneB_) SharpenRow(doneB_);
  }

  void SharpenRows(int begin, int end) {
    for (int y = begin; y < end; ++y) SharpenRow(y);
  }

 private:
  // Hue and saturation and the sample maps of one row, into F itself or,
  // when sharpness follows, into the work image.
  void MapRow(int y) {
    const uint8_t* in = f_.Row(y);
    uint8_t* out = work_ != nullptr ? work_->Row(y) : f_.Row(y);
    const int w = f_.Width();
    if (hsl_) {
      switch (level_) {
        case SimdLevel::kAvx2:
          (avx512_ ? HueSaturationRowAvx512 : HueSaturationRowAvx2)(out, in, w, bpp_, adjust_);
          break;
        case SimdLevel::kSse2:
          HueSaturationRowSse2(out, in, w, bpp_, adjust_);
          break;
        default:
          // The scalar kernel writes three samples: a fourth comes along with
          // a copy of the row first.
          if (out != in && (bpp_ == 4 || bpp_ == 8)) {
            std::memcpy(out, in, static_cast<size_t>(w) * bpp_);
          }
          HueSaturationRowScalar(out, bpp_, in, bpp_, w, wide_, adjust_);
          break;
      }
      in = out;
    }
    if (!pre_.Identity()) {
      pre_.ApplyRow(out, in, w, bpp_, level_);
      in = out;
    }
    if (out != in) {
      std::memcpy(out, in, static_cast<size_t>(w) * bpp_);
    }
    if (work_ != nullptr) {
      // The copy covers whole rows, padding included.
      const size_t used = static_cast<size_t>(w) * bpp_;
      std::memcpy(out + used, f_.Row(y) + used, static_cast<size_t>(f_.Stride()) - used);
    }
  }

  // Row y of F from the work image: sharpened inside the two outer rows and
  // columns, copied outside them, then brightened.
  void SharpenRow(int y) {
    const int w = f_.Width(), h = f_.Height();
    uint8_t* out = f_.Row(y);
    const bool inside = y >= 2 && y <= h - 3 && w >= 5 && h >= 5;
    bool brightened = false;
    if (!inside) {
      std::memcpy(out, work_->Row(y), static_cast<size_t>(f_.Stride()));
    } else {
      const uint8_t* rows[4] = {work_->Row(y - 2), work_->Row(y - 1), work_->Row(y),
                                work_->Row(y + 1)};
      if (sharpenVector_.valid) {
        const BrightnessVector* post = postVector_.valid ? &postVector_ : nullptr;
        if (level_ == SimdLevel::kAvx2) {
          (avx512_ ? SharpenRowAvx512 : SharpenRowAvx2)(out, rows, w, bpp_, sharpenVector_, post,
                                                        scratch16_.data());
        } else {
          SharpenRowSse2(out, rows, w, bpp_, sharpenVector_, post, scratch16_.data());
        }
        brightened = post != nullptr;
      } else {
        std::memcpy(out, rows[2], static_cast<size_t>(w) * bpp_);
        SharpenRowScalar(out, bpp_, rows, bpp_, w, channels_, wide_, diff_.data(),
                         scratch32_.data());
      }
    }
    if (!brightened && !post_.Identity()) post_.ApplyRow(out, out, w, bpp_, level_);
  }

  DibImage& f_;
  DibImage* work_ = nullptr;
  SimdLevel level_;
  // At the AVX2 level the AVX-512 forms run where the processor has them.
  bool avx512_ = level_ == SimdLevel::kAvx2 && HaveAvx512Forms();
  int bpp_;
  bool wide_;
  int maxValue_;
  bool hsl_ = false;
  HslAdjust adjust_{};
  ToneMap pre_, post_;
  int amount_ = 0;
  SharpenVector sharpenVector_;
  BrightnessVector postVector_;
  int channels_ = 1;
  std::vector<int> diff_, scratch32_;
  std::vector<uint16_t> scratch16_;
  int doneA_ = 0, doneB_ = 0;
  int sharpenEnd_ = f_.Height();
};

// Runs the producer band by band over rows [begin, end) and the tone stage
// behind it.
void RunSlab(const BandDemosaic& produce, ToneStage& tones, int begin, int end, int band) {
  for (int y = begin; y < end; y += band) {
    const int last = std::min(end, y + band);
    if (produce) produce(y, last);
    if (!tones.Empty()) tones.RowsReady(last);
  }
}

std::atomic<int> g_pipelineThreads{0};

// VARNEL_PIPELINE_THREADS when it is set, else one thread a core.
int ThreadsFromEnvironment() {
  const char* text = std::getenv("VARNEL_PIPELINE_THREADS");
  const int n = text != nullptr && *text != '\0'
                    ? std::atoi(text)
                    : static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, kFramePipelineMaxThreads);
}

// Runs the producer and the tone stage over the frame: on this thread alone,
// or in horizontal slabs that this thread and the process's pipeline workers
// share. Every row goes through the same steps either way; the slabs only
// decide which thread takes it, so the frame is the same bit for bit.
void RunBands(DibImage& frame, const BandDemosaic& produce, ToneStage& tones) {
  const int h = frame.Height(), band = FramePipelineBandRows(frame.Stride());
  const int threads = FramePipelineThreads();
  // Slabs of whole bands (even rows, which keeps the mosaic's phase) and at
  // least two bands each (some 200 KB of frame image), so that handing one
  // to another thread is worth it.
  const int slabs = std::min(threads, h / (2 * band));
  if (slabs <= 1 || (!produce && tones.Empty())) {
    RunSlab(produce, tones, 0, h, band);
    return;
  }
  const int bandsPerSlab = (h + band - 1) / band / slabs;
  std::vector<int> bounds{0};
  for (int i = 1; i < slabs; ++i) bounds.push_back(i * bandsPerSlab * band);
  bounds.push_back(h);
  tones.Prepare();
  std::vector<ToneStage> stages(static_cast<size_t>(slabs - 1), tones);
  for (int i = 1; i < slabs; ++i)
    stages[static_cast<size_t>(i - 1)].LimitToSlab(bounds[i], bounds[i + 1]);
  tones.LimitToSlab(0, bounds[1]);
  PipelinePool::Process().Run(
      slabs,
      [&](int i) {
        ToneStage& stage = i == 0 ? tones : stages[static_cast<size_t>(i - 1)];
        RunSlab(produce, stage, bounds[i], bounds[i + 1], band);
      },
      threads - 1);
  if (tones.Sharpens()) {
    for (int i = 1; i < slabs; ++i) tones.SharpenRows(bounds[i] - 1, bounds[i] + 2);
  }
}

void GrayModeGains(DibImage& raw8, FilterSettings& settings, const CpuFeatures& cpu,
                   const FramePipelineHooks& hooks) {
  GrayGains gains{
      settings.bayerPhase,
      {settings.grayGainR, settings.grayGainG1, settings.grayGainG2, settings.grayGainB},
      {settings.grayOffsetR, settings.grayOffsetG1, settings.grayOffsetG2, settings.grayOffsetB}};
  if (settings.autoGrayGainCount != 0) {
    if (RunWhole(raw8, MeasureGrayGainsRoutine, raw8, &gains) == 1) {
      settings.grayGainR = gains.gain[GrayGains::kR];
      settings.grayGainG1 = gains.gain[GrayGains::kG1];
      settings.grayGainG2 = gains.gain[GrayGains::kG2];
      settings.grayGainB = gains.gain[GrayGains::kB];
      if (hooks.refreshFilterDialog) hooks.refreshFilterDialog();
    }
    // A positive count runs that many more times; -1 means every frame and
    // stays -1 rather than counting on towards a wrap.
    if (settings.autoGrayGainCount > 0) --settings.autoGrayGainCount;
  }
  if (std::any_of(gains.gain, gains.gain + 4, [](int g) { return g != 128; })) {
    RunWhole(raw8, GrayGainRoutineFor(ChooseGrayGainForm(cpu)), raw8, &gains);
  }
}

}  // namespace

VectorForm ChooseDemosaicForm(const CpuFeatures& cpu, int redGain, int greenGain, int blueGain,
                              int destinationBytesPerPixel) {
  if (destinationBytesPerPixel != 3 || redGain > 200 || greenGain > 200 || blueGain > 200) {
    return VectorForm::kScalar;
  }
  const VectorForm form = ChooseVectorForm(cpu);
  if (form == VectorForm::kSse2 && HaveDemosaicSse2()) return VectorForm::kSse2;
  if (form != VectorForm::kScalar && UseMmx(cpu) && HaveDemosaicMmx()) return VectorForm::kMmx;
  return VectorForm::kScalar;
}

int FramePipelineThreads() {
  int n = g_pipelineThreads.load(std::memory_order_relaxed);
  if (n == 0) {
    n = ThreadsFromEnvironment();
    g_pipelineThreads.store(n, std::memory_order_relaxed);
  }
  return n;
}

void SetFramePipelineThreads(int threads) {
  g_pipelineThreads.store(
      threads <= 0 ? ThreadsFromEnvironment() : std::min(threads, kFramePipelineMaxThreads),
      std::memory_order_relaxed);
}

int FramePipelineBandRows(int stride) {
  const int rows = 98304 / std::max(1, stride);
  return std::max(4, rows & ~1);
}

DemosaicForm DemosaicFormRun(VectorForm chosen) {
  switch (chosen) {
    case VectorForm::kSse2:
      // The AVX2 form gives the SSE2 form's result bit for bit, faster.
      return HaveDemosaicAvx2() ? DemosaicForm::kAvx2 : DemosaicForm::kSse2;
    case VectorForm::kMmx:
      return DemosaicForm::kMmx;
    default:
      return DemosaicForm::kScalar;
  }
}

const char* DemosaicFormName(DemosaicForm form) {
  switch (form) {
    case DemosaicForm::kAvx2:
      return "AVX2";
    case DemosaicForm::kSse2:
      return "SSE2";
    case DemosaicForm::kMmx:
      return "MMX";
    default:
      return "scalar";
  }
}

VectorForm ChooseGrayGainForm(const CpuFeatures& cpu) {
  const VectorForm form = ChooseVectorForm(cpu);
  if (form == VectorForm::kSse2 && HaveGrayGainsSse2()) return VectorForm::kSse2;
  if (form != VectorForm::kScalar && UseMmx(cpu) && HaveGrayGainsMmx()) return VectorForm::kMmx;
  return VectorForm::kScalar;
}

DibImage* RunFramePipeline(const FrameImages& images, FilterSettings& settings, int colorClass,
                           BitDepthCode bitDepth, const CpuFeatures& cpu,
                           const FramePipelineHooks& hooks) {
  if (colorClass < kColorClassMono8 || colorClass > kColorClassBgr64) return nullptr;

  // 1. The frame lies in the raw image of its class; automatic exposure first.
  DibImage* raw = IsDeepClass(colorClass) ? images.raw16 : images.raw8;
  if (!Usable(raw)) return nullptr;
  if (hooks.autoExposure) hooks.autoExposure(*raw);

  // 2. and 3. Gray handling of class 0; demosaic of the colour classes, run
  // band by band below together with the filters.
  const SimdLevel level = ChooseSimdLevel(cpu);
  DibImage* frame = nullptr;
  BandDemosaic produce;
  switch (colorClass) {
    case kColorClassMono8:
      frame = raw;
      if (settings.grayMode == 1) {
        GrayModeGains(*raw, settings, cpu, hooks);
      } else if (settings.grayMode == 2 && Usable(images.bgr24)) {
        Demosaic8(*raw, *images.bgr24, settings, cpu, hooks);
        RunWhole(*raw, ColorToGrayRoutine, *images.bgr24);
      }
      break;
    case kColorClassMono16:
      frame = raw;
      break;
    case kColorClassBgr24:
    case kColorClassBgr32: {
      frame = colorClass == kColorClassBgr24 ? images.bgr24 : images.bgr32;
      if (!Usable(frame)) return nullptr;
      if (frame->Width() != raw->Width() || frame->Height() != raw->Height()) {
        Demosaic8(*raw, *frame, settings, cpu, hooks);
        break;
      }
      RunAutoWhiteBalance(*raw, settings, hooks);
      const BayerGains gains{settings.bayerPhase, settings.bayerGainRed, settings.bayerGainGreen,
                             settings.bayerGainBlue};
      produce = Demosaic8Bands(*raw, *frame, gains, cpu, level);
      break;
    }
    default: {
      frame = colorClass == kColorClassBgr48 ? images.bgr48 : images.bgr64;
      if (!Usable(frame)) return nullptr;
      RunAutoWhiteBalance(*raw, settings, hooks);
      BayerGains gains{settings.bayerPhase, settings.bayerGainRed, settings.bayerGainGreen,
                       settings.bayerGainBlue};
      if (frame->Width() != raw->Width() || frame->Height() != raw->Height()) {
        RunWhole(*frame, DeepDemosaicFor(bitDepth), *raw, &gains);
        break;
      }
      produce = DeepDemosaicBands(*raw, *frame, gains, bitDepth, level);
      break;
    }
  }

  // 4. to 9. From here on the filters work on the frame image F, row band by
  // row band behind the demosaic.
  ToneStage tones(*frame, images.work, settings, colorClass, level);
  RunBands(*frame, produce, tones);
  return frame;
}

}  // namespace varnel
