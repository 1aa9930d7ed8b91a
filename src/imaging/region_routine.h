// The common signature of the pixel conversion routines, and the rectangle
// they are handed.
//
// A routine never sees a DibImage: the image clips the region first and then
// passes raw pointers, strides and sample widths, so one routine serves every
// pair of images and can be tested on plain buffers.
#pragma once

#include <cstdint>

namespace varnel {

// A rectangle in pixels; right and bottom are exclusive.
struct PixelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  constexpr int32_t Width() const { return right - left; }
  constexpr int32_t Height() const { return bottom - top; }
  constexpr bool operator==(const PixelRect&) const = default;
};

// The region form, run by DibImage::ConvertRegion.
//
//   destination, source     first byte of each image's buffer (the same
//                           buffer for the in-place filters)
//   sourceRect              the region of the source to visit, already
//                           clipped to both images, in buffer rows
//   x, y                    where the region's top-left pixel lands in the
//                           destination, in buffer rows
//   destinationBytesPerPixel, sourceBytesPerPixel
//   destinationStride, sourceStride   bytes per row
//   user                    for the parameterised routines the address of a
//                           slot that holds the address of their parameter
//                           record; null for the others
//   extra                   a further integer that the routines ignore
//
// Source pixel (column, row) is read at source + row * sourceStride +
// column * sourceBytesPerPixel and written to destination pixel
// (x + column - sourceRect.left, y + row - sourceRect.top). Returns 1 when
// done; the measuring routines return their measurement.
using RegionRoutine = int (*)(uint8_t* destination, const uint8_t* source,
                              const PixelRect& sourceRect, int32_t x, int32_t y,
                              int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                              int32_t destinationStride, int32_t sourceStride, void* user,
                              int32_t extra);

// The whole-image form, run by DibImage::ConvertWhole (the scalers). It gets
// both rectangles and both images' sizes and does its own bounds handling.
using WholeImageRoutine = int (*)(uint8_t* destination, const uint8_t* source,
                                  const PixelRect& destinationRect, const PixelRect& sourceRect,
                                  int32_t destinationWidth, int32_t destinationHeight,
                                  int32_t sourceWidth, int32_t sourceHeight,
                                  int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                                  int32_t destinationStride, int32_t sourceStride, void* user,
                                  int32_t extra);

}  // namespace varnel
