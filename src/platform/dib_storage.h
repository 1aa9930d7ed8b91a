// Where the pixels of a DibImage live.
//
// On Windows an image is a DIB section selected into a memory device context,
// so the same pixels can be blitted with GDI. When the system refuses the DIB
// section (GDI has no 48- or 64-bit DIBs, and very large sections fail), and
// always on Linux, the pixels are a plain zeroed memory block. Both kinds keep
// a 256-entry colour table for 8-bit images: the DIB section in the device
// context, the plain block in memory, so that colour-table copies behave the
// same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace varnel {

// The 40-byte header of a device-independent bitmap, laid out exactly like the
// Windows BITMAPINFOHEADER so that it can be handed to GDI and written to BMP
// files unchanged.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// One colour-table entry in the order of the Windows RGBQUAD.
struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;

  constexpr bool operator==(const RgbQuad&) const = default;
};
static_assert(sizeof(RgbQuad) == 4);

inline constexpr int kColorTableSize = 256;

class DibStorage {
 public:
  virtual ~DibStorage() = default;

  // First byte of the pixels; never null for a storage that exists.
  virtual uint8_t* Pixels() const = 0;

  // The memory device context (HDC) and the DIB section (HBITMAP) on Windows;
  // null for plain memory. Only platform code may look inside.
  virtual void* DeviceContext() const = 0;
  virtual void* Bitmap() const = 0;

  // Writes `count` entries from `first` into the colour table (entries beyond
  // 255 are dropped); returns the number written. Meaningful for 8-bit images.
  virtual int SetColorTable(int first, int count, const RgbQuad* entries) = 0;
  // Reads `count` entries from `first`; returns the number read (0 when the
  // storage has no colour table).
  virtual int GetColorTable(int first, int count, RgbQuad* entries) const = 0;
};

// Makes the storage for an image described by `header` with `stride` bytes per
// row. `reference` is the storage whose device context is the reference DC of
// the DIB section (null for none). Tries the platform's bitmap first and falls
// back to plain zeroed memory; returns null when both fail. The colour table of
// a new storage is not initialised: DibImage sets it.
std::unique_ptr<DibStorage> CreateDibStorage(const BitmapInfoHeader& header, int32_t stride,
                                             const DibStorage* reference);

// Plain zeroed memory of `size` bytes with an in-memory colour table; null when
// the allocation fails. Shared by both platforms.
std::unique_ptr<DibStorage> CreatePlainDibStorage(size_t size);

}  // namespace varnel
