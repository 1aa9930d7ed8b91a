// The arguments every region routine receives, gathered into one value so that
// the routines' bodies share the addressing rules: source pixel (column, row)
// lies at source + row * source stride + column * source bytes per pixel, and
// it lands on destination pixel (x + column - left, y + row - top).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/region_routine.h"

namespace varnel {

struct RegionView {
  uint8_t* dst;
  const uint8_t* src;
  int left, top, right, bottom;  // source rectangle, right and bottom exclusive
  int dstX, dstY;
  int dstBpp, srcBpp;
  int dstStride, srcStride;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return dst == nullptr || src == nullptr || right <= left || bottom <= top; }

  // Source row `row` (absolute, as in the rectangle).
  const uint8_t* SrcRow(int row) const { return src + static_cast<ptrdiff_t>(row) * srcStride; }
  // The destination row that receives source row `row`.
  uint8_t* DstRow(int row) const {
    return dst + static_cast<ptrdiff_t>(dstY + row - top) * dstStride;
  }
  const uint8_t* SrcPixel(int col, int row) const {
    return SrcRow(row) + static_cast<ptrdiff_t>(col) * srcBpp;
  }
  uint8_t* DstPixel(int col, int row) const {
    return DstRow(row) + static_cast<ptrdiff_t>(dstX + col - left) * dstBpp;
  }
};

inline RegionView MakeRegionView(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int x,
                                 int y, int dstBpp, int srcBpp, int dstStride, int srcStride) {
  return RegionView{dst, src, rect.left, rect.top, rect.right, rect.bottom,
                    x,   y,   dstBpp,    srcBpp,   dstStride,  srcStride};
}

// The view of a RegionRoutine's own arguments (inside a routine body).
#define VARNEL_REGION_VIEW                                                        \
  MakeRegionView(destination, source, sourceRect, x, y, destinationBytesPerPixel, \
                 sourceBytesPerPixel, destinationStride, sourceStride)

// Reads the parameter record through the slot that the user value points at;
// null when either the slot or the record is missing.
template <typename T>
T* ParamRecord(void* slot) {
  return slot == nullptr ? nullptr : *static_cast<T**>(slot);
}

}  // namespace varnel
