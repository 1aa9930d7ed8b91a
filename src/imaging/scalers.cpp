// Nearest-neighbour scalers for the preview: 8-bit mono and 24-bit colour.
// They reverse the row order, so that a top-row-first frame lands in a
// bottom-up display image.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "imaging/pixel_routines.h"

namespace varnel {
namespace {

// Limits a rectangle to an image of the given size.
PixelRect ClipTo(const PixelRect& r, int width, int height) {
  PixelRect c;
  c.left = std::clamp(r.left, 0, std::max(width, 0));
  c.top = std::clamp(r.top, 0, std::max(height, 0));
  c.right = std::clamp(r.right, c.left, std::max(width, 0));
  c.bottom = std::clamp(r.bottom, c.top, std::max(height, 0));
  return c;
}

// Source index for destination index i: trunc(f * i) with f the single
// precision ratio, limited to 0..size-1. The product is formed in double,
// where a float times an int below 2^24 is exact, so that every build (x87 or
// SSE arithmetic) truncates the same value.
inline int SourceIndex(float f, int i, int size) {
  const int u = static_cast<int>(static_cast<double>(f) * static_cast<double>(i));
  return std::clamp(u, 0, size - 1);
}

int ScaleNearest(uint8_t* destination, const uint8_t* source, const PixelRect& destinationRect,
                 const PixelRect& sourceRect, int32_t destinationWidth, int32_t destinationHeight,
                 int32_t sourceWidth, int32_t sourceHeight, int32_t destinationBytesPerPixel,
                 int32_t sourceBytesPerPixel, int32_t destinationStride, int32_t sourceStride,
                 int pixelBytes) {
  if (destination == nullptr || source == nullptr) return 0;
  // The whole-image form gets no clipping from the container, so both
  // rectangles are limited to their images here.
  const PixelRect d = ClipTo(destinationRect, destinationWidth, destinationHeight);
  const PixelRect s = ClipTo(sourceRect, sourceWidth, sourceHeight);
  const int dw = d.Width(), dh = d.Height(), sw = s.Width(), sh = s.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return 1;
  if (destinationBytesPerPixel < pixelBytes || sourceBytesPerPixel < pixelBytes) return 0;
  const float fy = static_cast<float>(sh) / static_cast<float>(dh);
  const float fx = static_cast<float>(sw) / static_cast<float>(dw);
  std::vector<ptrdiff_t> columnOffset(dw);
  for (int j = 0; j < dw; ++j) {
    columnOffset[j] = static_cast<ptrdiff_t>(s.left + SourceIndex(fx, j, sw)) * sourceBytesPerPixel;
  }
  for (int i = 0; i < dh; ++i) {
    const int u = SourceIndex(fy, i, sh);
    const uint8_t* srcRow = source + static_cast<ptrdiff_t>(s.bottom - u - 1) * sourceStride;
    uint8_t* dstRow = destination + static_cast<ptrdiff_t>(d.top + i) * destinationStride +
                      static_cast<ptrdiff_t>(d.left) * destinationBytesPerPixel;
    for (int j = 0; j < dw; ++j) {
      std::memcpy(dstRow + static_cast<ptrdiff_t>(j) * destinationBytesPerPixel,
                  srcRow + columnOffset[j], pixelBytes);
    }
  }
  return 1;
}

}  // namespace

int ScaleNearestMono8Routine(uint8_t* destination, const uint8_t* source,
                             const PixelRect& destinationRect, const PixelRect& sourceRect,
                             int32_t destinationWidth, int32_t destinationHeight,
                             int32_t sourceWidth, int32_t sourceHeight,
                             int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                             int32_t destinationStride, int32_t sourceStride, void* user,
                             int32_t extra) {
  (void)user, (void)extra;
  return ScaleNearest(destination, source, destinationRect, sourceRect, destinationWidth,
                      destinationHeight, sourceWidth, sourceHeight, destinationBytesPerPixel,
                      sourceBytesPerPixel, destinationStride, sourceStride, 1);
}

int ScaleNearestBgr24Routine(uint8_t* destination, const uint8_t* source,
                             const PixelRect& destinationRect, const PixelRect& sourceRect,
                             int32_t destinationWidth, int32_t destinationHeight,
                             int32_t sourceWidth, int32_t sourceHeight,
                             int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                             int32_t destinationStride, int32_t sourceStride, void* user,
                             int32_t extra) {
  (void)user, (void)extra;
  return ScaleNearest(destination, source, destinationRect, sourceRect, destinationWidth,
                      destinationHeight, sourceWidth, sourceHeight, destinationBytesPerPixel,
                      sourceBytesPerPixel, destinationStride, sourceStride, 3);
}

}  // namespace varnel
