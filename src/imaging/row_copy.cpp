#include "imaging/row_copy.h"

#include <cstring>

#include "imaging/cpu_features.h"

namespace varnel {

namespace {
constexpr size_t kStreamingThreshold = size_t{1} << 20;

bool StreamingUsable() {
  static const bool usable = ChooseStreamingCopy(ProcessCpuFeatures());
  return usable;
}
}  // namespace

bool ChooseStreamingCopy(const CpuFeatures& features) {
  return HaveStreamingCopySse2() && UseSse2(features);
}

void CopyRows(uint8_t* destination, ptrdiff_t destinationStride, const uint8_t* source,
              ptrdiff_t sourceStride, size_t rowBytes, int rows, bool reverse) {
  if (destination == nullptr || source == nullptr || rows <= 0 || rowBytes == 0) return;
  const bool streaming =
      rowBytes * static_cast<size_t>(rows) >= kStreamingThreshold && StreamingUsable();
  for (int r = 0; r < rows; ++r) {
    uint8_t* to = destination + (reverse ? rows - 1 - r : r) * destinationStride;
    const uint8_t* from = source + r * sourceStride;
    if (streaming) {
      CopyRowStreamingSse2(to, from, rowBytes);
    } else {
      std::memcpy(to, from, rowBytes);
    }
  }
  if (streaming) StreamingCopyFenceSse2();
}

}  // namespace varnel
