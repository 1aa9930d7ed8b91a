// The per-sample tone maps (gamma, contrast, brightness) as one lookup table,
// so that consecutive map steps of the frame pipeline cost one lookup per
// sample instead of one pass each.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/cpu_features.h"

namespace varnel {

class ToneMap {
 public:
  // The identity on samples 0..maxValue (255, or 1023 for the 16-bit forms).
  explicit ToneMap(int maxValue);

  int MaxValue() const { return maxValue_; }
  bool Identity() const { return identity_; }
  // Applies `table` (maxValue + 1 entries, values within 0..maxValue) after
  // this map.
  void Then(const std::vector<int>& table);
  // The map's value for one sample (16-bit samples above maxValue are taken
  // as maxValue, as the filters read them).
  int Map(int sample) const;

  // Maps n pixels of `src` into `dst` (the same row allowed): bytesPerPixel 1
  // (mono), 3 or 4 (colour, a fourth byte copied) for 8-bit samples, 2, 6 or
  // 8 for 16-bit samples. With AVX2 the 16-bit samples go through gathers,
  // and the 8-bit ones through byte permutes where the processor has AVX-512
  // VBMI.
  void ApplyRow(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                SimdLevel level = SimdLevel::kScalar) const;
  // Builds the tables ApplyRow at this level would build on first use, so
  // that rows can then be mapped from several threads at once.
  void Prepare(SimdLevel level) const;

 private:
  void BuildPairs() const;
  void BuildBytes() const;

  int maxValue_;
  bool identity_ = true;
  std::vector<uint16_t> table_;
  // 16-bit maps: the table as 32-bit values for the gathers.
  std::vector<int32_t> table32_;
  // 8-bit maps: two neighbouring samples at once, built on first use.
  mutable std::vector<uint16_t> pairs_;
  // 8-bit maps with AVX-512 VBMI: the table as bytes, built on first use.
  mutable std::vector<uint8_t> bytes_;
};

}  // namespace varnel
