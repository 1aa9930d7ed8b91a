// The colour engine kind for colour (Bayer) sensors: demosaics each raw frame
// into 32-bit B, G, R, 255 pixels, with white balance, hot-pixel correction
// and the colour matrix around the demosaic.
#pragma once

#include <filesystem>

#include "engine/color_engine.h"
#include "imaging/cpu_features.h"

namespace varnel {

class ColorConverter : public ColorEngine {
 public:
  // Runs processor detection the first time any colour converter is made in
  // the process and keeps the feature bits.
  ColorConverter();

  // Writes "raw" (the raw copy) or "bmp" (the 32-bit image) by the name's
  // last three characters, compared without regard to case. Returns non-zero
  // on success, 0 when there is nothing to write or the raw file fails;
  // throws basic_exception when a bitmap cannot be created or written. Any
  // other extension writes nothing and returns a non-zero comparison result.
  int Save(const std::filesystem::path& fileName) override;

  // (Re)creates the buffers and the padded work buffer of the vector forms.
  bool Allocate() override;

  // The colour pipeline: snapshot of the settings, two-tap order, 16-bit
  // reduction, white balance, hot pixels, then the vector demosaic (SSE2)
  // or the scalar one.
  void ProcessFrame(uint8_t* frame) override;

  // The vector forms are used only when the processor reports SSE2 and the
  // system runs it (VectorFormsUsable); this also lets a test or benchmark
  // turn them off to run the scalar forms.
  void SetVectorFormsAllowed(bool allowed) { vectorAllowed_ = allowed; }
  bool UsesVectorForms() const;
  static bool VectorFormsUsable(const CpuFeatures& features);
  // Where the processor has AVX2 the vector demosaic runs twice as wide with
  // the same result; a benchmark can hold it to the SSE2 width.
  void SetAvx2Allowed(bool allowed) { avx2Allowed_ = allowed; }
  bool UsesAvx2() const;
  // The vector routine ProcessFrame runs for a family and phase while
  // UsesVectorForms(): the AVX2 form when UsesAvx2(), else the SSE2 form.
  EngineVectorRoutine VectorRoutine(EngineVectorFamily family, EnginePhase phase) const;

 private:
  bool vectorAllowed_ = true;
  bool avx2Allowed_ = true;
};

}  // namespace varnel
