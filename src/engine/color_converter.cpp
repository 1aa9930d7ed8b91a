#include "engine/color_converter.h"

#include <algorithm>
#include <new>

#include "engine/white_balance.h"
#include "imaging/cpu_features.h"
#include "platform/resources.h"

namespace varnel {

bool ColorConverter::VectorFormsUsable(const CpuFeatures& features) { return UseSse2(features); }

ColorConverter::ColorConverter() { ProcessCpuFeatures(); }

int ColorConverter::Save(const std::filesystem::path& fileName) { return SaveImage(fileName); }

bool ColorConverter::Allocate() {
  if (!ColorEngine::Allocate()) return false;
  if (ResourceRefused(ResourceKind::kMemory, static_cast<size_t>(GetWidth()) * GetHeight())) {
    Release();
    return false;
  }
  try {
    matrix_.ResizeWork(GetWidth(), GetHeight());
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  return true;
}

bool ColorConverter::UsesVectorForms() const {
  return vectorAllowed_ && VectorFormsUsable(ProcessCpuFeatures());
}

bool ColorConverter::UsesAvx2() const {
  return UsesVectorForms() && avx2Allowed_ && HaveAvx2Forms();
}

EngineVectorRoutine ColorConverter::VectorRoutine(EngineVectorFamily family,
                                                  EnginePhase phase) const {
  // The AVX2 form gives the SSE2 form's frame bit for bit, faster; it runs
  // only where it is allowed, so that the SSE2 form can be timed and compared
  // on a processor that has both.
  return UsesAvx2() ? SelectEngineVectorRoutineAvx2(family, phase)
                    : SelectEngineVectorRoutine(family, phase);
}

void ColorConverter::ProcessFrame(uint8_t* frame) {
  uint8_t* out = OutputBuffer();
  const int width = GetWidth();
  const int height = GetHeight();
  // Only the 32-bit image of the current size is ever written.
  if (frame == nullptr || out == nullptr || GetFormat() != kEngineFormatBgra32 ||
      OutputSize() < static_cast<size_t>(width) * 4 * static_cast<size_t>(height)) {
    return;
  }

  EngineSnapshot s = TakeSnapshot();
  PrepareRawFrame(frame, /*allowTwoTap=*/true);

  if (s.whiteBalanceMode == kWhiteBalanceGrayWorld ||
      s.whiteBalanceMode == kWhiteBalanceWhitePatch) {
    const WhiteBalanceResult r = s.whiteBalanceMode == kWhiteBalanceGrayWorld
                                     ? MeasureGrayWorld(frame, width, height, s.phase)
                                     : MeasureWhitePatch(frame, width, height, s.phase);
    if (r.valid) {
      s.gains = ToEngineGains(r, s.whiteBalanceMode);
      StoreMeasuredGains(s.gains);
    }
  }

  if (s.defectCorrection) {
    // The pass never reads past the frame, whatever row pitch it was given.
    const int pitch = GetRowPitch();
    const size_t frameSamples = static_cast<size_t>(width) * static_cast<size_t>(height);
    const int rows = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(height), frameSamples / static_cast<size_t>(pitch)));
    CorrectHotPixels(frame, pitch, rows, s.phase, s.defectThreshold, s.gains);
  }

  const int stride = width * 4;
  if (UsesVectorForms()) {
    matrix_.SetGains(s.gains.red, s.gains.green, s.gains.blue);
    matrix_.ResizeWork(width, height);
    matrix_.CopyIntoWork(frame, width);
    const EngineVectorFamily family = !s.colorFlag     ? EngineVectorFamily::kGray
                                      : s.matrixActive ? EngineVectorFamily::kColorWithMatrix
                                                       : EngineVectorFamily::kColor;
    EngineVectorParams p;
    p.origin = matrix_.WorkOrigin();
    p.pitch = matrix_.Pitch();
    p.width = width;
    p.height = height;
    p.gains = {matrix_.RedGain(), matrix_.GreenGain(), matrix_.BlueGain()};
    p.matrix = &s.matrix;
    p.out = out;
    p.outStride = stride;
    VectorRoutine(family, s.phase)(p);
    return;
  }
  if (s.colorFlag) {
    EngineScalarDemosaic(frame, width, height, s.phase, s.gains, out, stride);
  } else {
    EngineScalarTwoGreen(frame, width, height, s.phase, out, stride);
  }
}

}  // namespace varnel
