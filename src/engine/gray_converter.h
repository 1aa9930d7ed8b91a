// The colour engine kind for monochrome output: turns each raw Bayer frame
// into a gray image (bilinear red and blue at unit gain, the green pair
// average, weighted 30/59/11).
#pragma once

#include <filesystem>

#include "engine/color_engine.h"

namespace varnel {

class GrayConverter : public ColorEngine {
 public:
  GrayConverter() = default;

  // As ColorConverter::Save; the bitmap is the 8-bit palettised image for
  // format 1 and the 32-bit image for format 5.
  int Save(const std::filesystem::path& fileName) override;

  // 16-bit reduction, then the gray image: into the 8-bit palettised buffer
  // (format 1) or as (v, v, v, 255) pixels (format 5), two rows and two
  // columns in.
  void ProcessFrame(uint8_t* frame) override;

 protected:
  bool ProcessesInto(int format) const override {
    return format == kEngineFormatGray8 || format == kEngineFormatBgra32;
  }
};

}  // namespace varnel
