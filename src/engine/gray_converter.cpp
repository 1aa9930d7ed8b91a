#include "engine/gray_converter.h"

namespace varnel {

int GrayConverter::Save(const std::filesystem::path& fileName) { return SaveImage(fileName); }

void GrayConverter::ProcessFrame(uint8_t* frame) {
  uint8_t* out = OutputBuffer();
  const int width = GetWidth();
  const int height = GetHeight();
  const int format = GetFormat();
  if (frame == nullptr || out == nullptr) return;
  const int bytesPerPixel = format == kEngineFormatGray8 ? 1 : 4;
  const int stride = format == kEngineFormatGray8 ? Gray8Stride() : width * 4;
  if (!ProcessesInto(format) ||
      OutputSize() < static_cast<size_t>(stride) * static_cast<size_t>(height)) {
    return;
  }
  const EngineSnapshot s = TakeSnapshot();
  PrepareRawFrame(frame, /*allowTwoTap=*/false);
  EngineScalarGray(frame, width, height, s.phase, out, stride, bytesPerPixel);
}

}  // namespace varnel
