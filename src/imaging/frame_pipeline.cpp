// The per-frame pipeline of a camera instance.
#include "imaging/frame_pipeline.h"

#include <algorithm>
#include <cstring>

#include "imagefile/dib_image.h"
#include "imaging/demosaic.h"
#include "imaging/gray_gain.h"
#include "imaging/pixel_routines.h"
#include "imaging/region_params.h"

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

// Step 3 for 8-bit raw data: white balance, then interior and border.
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

// The four forms of a filter: mono 8, mono 16, colour 8, colour 16.
struct FilterForms {
  RegionRoutine mono8, mono16, bgr8, bgr16;
  RegionRoutine For(int colorClass) const {
    switch (colorClass) {
      case kColorClassMono8:
        return mono8;
      case kColorClassMono16:
        return mono16;
      case kColorClassBgr24:
      case kColorClassBgr32:
        return bgr8;
      default:
        return bgr16;
    }
  }
};

constexpr FilterForms kGamma{GammaMono8Routine, GammaMono16Routine, GammaBgr8Routine,
                             GammaBgr16Routine};
constexpr FilterForms kContrast{ContrastMono8Routine, ContrastMono16Routine, ContrastBgr8Routine,
                                ContrastBgr16Routine};
constexpr FilterForms kSharpness{SharpnessMono8Routine, SharpnessMono16Routine,
                                 SharpnessBgr8Routine, SharpnessBgr16Routine};
constexpr FilterForms kBrightness{BrightnessMono8Routine, BrightnessMono16Routine,
                                  BrightnessBgr8Routine, BrightnessBgr16Routine};

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

  // 2. and 3. Gray handling of class 0; demosaic of the colour classes.
  DibImage* frame = nullptr;
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
    case kColorClassBgr32:
      frame = colorClass == kColorClassBgr24 ? images.bgr24 : images.bgr32;
      if (!Usable(frame)) return nullptr;
      Demosaic8(*raw, *frame, settings, cpu, hooks);
      break;
    default: {
      frame = colorClass == kColorClassBgr48 ? images.bgr48 : images.bgr64;
      if (!Usable(frame)) return nullptr;
      RunAutoWhiteBalance(*raw, settings, hooks);
      BayerGains gains{settings.bayerPhase, settings.bayerGainRed, settings.bayerGainGreen,
                       settings.bayerGainBlue};
      RunWhole(*frame, DeepDemosaicFor(bitDepth), *raw, &gains);
      break;
    }
  }

  // 4. From here on the filters work on the frame image in place.
  DibImage& f = *frame;
  // 5. Hue and saturation, colour classes only. The lightness offset has no
  // setter and stays 0, which leaves lightness unchanged.
  if ((settings.hue != 0 || settings.saturation != 0) && IsColorClass(colorClass)) {
    HslAdjust adjust{settings.hue, 0, settings.saturation};
    RunWhole(f, IsDeepClass(colorClass) ? HueSaturationBgr16Routine : HueSaturationBgr8Routine, f,
             &adjust);
  }
  // 6. Gamma.
  if (int gamma = settings.gamma; gamma != 100) {
    RunWhole(f, kGamma.For(colorClass), f, &gamma);
  }
  // 7. Contrast.
  if (int contrast = settings.contrast; contrast != 0) {
    RunWhole(f, kContrast.For(colorClass), f, &contrast);
  }
  // 8. Sharpness reads a copy of the frame image.
  if (int sharpness = settings.sharpness; sharpness != 0 && images.work != nullptr) {
    DibImage& work = *images.work;
    if (work.Empty() || work.Width() != f.Width() || work.Height() != f.Height() ||
        work.BitCount() != f.BitCount()) {
      work.CopyFormat(&f);
    }
    if (!work.Empty()) {
      std::memcpy(work.Pixels(), f.Pixels(), f.ImageSize());
      RunWhole(f, kSharpness.For(colorClass), work, &sharpness);
    }
  }
  // 9. Brightness.
  if (int brightness = settings.brightness; brightness != 0) {
    RunWhole(f, kBrightness.For(colorClass), f, &brightness);
  }
  return frame;
}

}  // namespace varnel
