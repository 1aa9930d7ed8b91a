// DibImage: the one image container of the library.
//
// Every frame image, the preview's display image and the file writer's scratch
// images are DibImages: device-independent bitmaps whose rows are padded to 4
// bytes. The header declares a positive height (a bottom-up bitmap for GDI) but
// the buffer is filled top row first; the display and the file writers reverse
// the rows where GDI or a bottom-up file format needs it.
//
// The container does no pixel work itself. ConvertRegion clips a region and
// calls a RegionRoutine with raw pointers; ConvertWhole calls a
// WholeImageRoutine with both images' geometry and no clipping.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/region_routine.h"
#include "platform/dib_storage.h"

namespace varnel {

class DibImage {
 public:
  // Modes of SetColorTable.
  static constexpr int kColorTableGrayRamp = 0;
  static constexpr int kColorTableEntries = 2;

  DibImage();
  ~DibImage();
  DibImage(const DibImage&) = delete;
  DibImage& operator=(const DibImage&) = delete;

  // Allocates a zeroed image. Fails (and leaves the image empty) when width or
  // height is not positive, the bit count is not one of 8, 16, 24, 32, 48 and
  // 64, or the buffer cannot be had (including a buffer over 2 GiB). An 8-bit image gets the
  // grey ramp as its colour table.
  bool Create(int32_t width, int32_t height, uint16_t bitCount);

  // Allocates an image of the same header, size and bit count as `source`
  // (pixels are not copied); an 8-bit image takes over the source's colour
  // table. Fails (and leaves this image empty) when the source is null or empty.
  bool CopyFormat(const DibImage* source);

  // Frees everything and leaves the image empty: every field 0 except the
  // header size 40. Safe on an empty image.
  void Release();

  // Mode 0 sets entries 0..255 to the grey ramp; mode 2 sets `count` entries
  // from `first` to `entries`; any other mode does nothing. Returns true.
  bool SetColorTable(int mode, const RgbQuad* entries = nullptr, int first = 0, int count = 0);

  // Reads `count` colour-table entries from `first`; returns how many were read
  // (0 for an image without a colour table).
  int GetColorTable(int first, int count, RgbQuad* entries) const;

  // Clips `rect` (a region of `source`, top-down; null = the whole source)
  // placed with its top-left corner at (x, y) of this image, and runs `routine`
  // on what is left. The routine receives the region in buffer rows: x' is the
  // destination column, y' = this height - clipped bottom, and the source
  // rectangle is (left, source height - bottom, right, source height - top).
  // Returns the routine's result, or 0 when no routine or source is given or
  // the clipped region is empty (nothing is called then).
  int ConvertRegion(RegionRoutine routine, const DibImage* source, const PixelRect* rect, int32_t x,
                    int32_t y, void* user = nullptr, int32_t extra = 0);

  // Runs `routine` with both images' geometry and no clipping. Missing
  // rectangles default to the whole image. Returns the routine's result, or 0
  // when no routine or source is given or either image is empty.
  int ConvertWhole(WholeImageRoutine routine, const DibImage* source,
                   const PixelRect* destinationRect, const PixelRect* sourceRect,
                   void* user = nullptr, int32_t extra = 0);

  // Writes the picture as a Windows bitmap file: this image's header and (for
  // 8 bits) colour table, and the rows bottom-up as the header declares, so
  // that the first buffer row is the top of the picture. Every write and the
  // close are checked. False for a null name or an empty image (no file is
  // created then) and when the file cannot be written completely.
  bool SaveBmp(const char* fileName) const;

  bool Empty() const { return pixels_ == nullptr; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Stride() const { return stride_; }
  uint16_t BitCount() const { return bitCount_; }
  int32_t BytesPerPixel() const { return bitCount_ / 8; }
  uint8_t* Pixels() const { return pixels_; }
  uint8_t* Row(int32_t row) const { return pixels_ + static_cast<intptr_t>(row) * stride_; }
  // Bytes of pixel data: stride * height.
  size_t ImageSize() const { return static_cast<size_t>(stride_) * static_cast<size_t>(height_); }
  const BitmapInfoHeader& Header() const { return header_; }

  // The platform's memory device context (HDC) and DIB section (HBITMAP), or
  // null for plain memory and for an empty image. For platform code only.
  void* DeviceContext() const;
  void* Bitmap() const;

  // Bytes per row for a width and bit count: (width * (bitCount / 8) + 3)
  // rounded down to a multiple of 4. Returns -1 when that does not fit in 32
  // bits.
  static int32_t StrideFor(int32_t width, uint16_t bitCount);

 private:
  bool Allocate(const DibImage* reference);

  BitmapInfoHeader header_;
  std::unique_ptr<DibStorage> storage_;
  uint8_t* pixels_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t stride_ = 0;
  uint16_t bitCount_ = 0;
};

}  // namespace varnel
