// On Windows an image is a DIB section selected into its own memory device
// context, so that it can be blitted and its colour table set with GDI. GDI
// has no 48- or 64-bit sections and refuses very large ones; such images fall
// back to plain memory, which can still be converted, drawn with
// SetDIBitsToDevice and saved.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/dib_storage.h"
#include "platform/resources.h"

namespace varnel {

static_assert(sizeof(BITMAPINFOHEADER) == sizeof(BitmapInfoHeader));
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == offsetof(BitmapInfoHeader, bitCount));
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) ==
              offsetof(BitmapInfoHeader, clrImportant));
static_assert(sizeof(RGBQUAD) == sizeof(RgbQuad));

namespace {

class DibSectionStorage final : public DibStorage {
 public:
  DibSectionStorage(HDC dc, HBITMAP bitmap, HGDIOBJ previous, uint8_t* bits)
      : dc_(dc), bitmap_(bitmap), previous_(previous), bits_(bits) {}

  ~DibSectionStorage() override {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }

  uint8_t* Pixels() const override { return bits_; }
  void* DeviceContext() const override { return dc_; }
  void* Bitmap() const override { return bitmap_; }

  int SetColorTable(int first, int count, const RgbQuad* entries) override {
    if (first < 0 || count <= 0 || entries == nullptr) return 0;
    return static_cast<int>(SetDIBColorTable(dc_, static_cast<UINT>(first),
                                             static_cast<UINT>(count),
                                             reinterpret_cast<const RGBQUAD*>(entries)));
  }

  int GetColorTable(int first, int count, RgbQuad* entries) const override {
    if (first < 0 || count <= 0 || entries == nullptr) return 0;
    return static_cast<int>(GetDIBColorTable(dc_, static_cast<UINT>(first),
                                             static_cast<UINT>(count),
                                             reinterpret_cast<RGBQUAD*>(entries)));
  }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  uint8_t* bits_;
};

// A BITMAPINFO with room for a full colour table: CreateDIBSection reads 256
// entries after the header of an 8-bit bitmap whose header says 0 colours
// used, so the header alone would let it read past the end.
struct BitmapInfo256 {
  BITMAPINFOHEADER header;
  RGBQUAD colors[kColorTableSize];
};

}  // namespace

std::unique_ptr<DibStorage> CreateDibStorage(const BitmapInfoHeader& header, int32_t stride,
                                             const DibStorage* reference) {
  if (stride <= 0 || header.height <= 0) return nullptr;
  const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(header.height);
  if (ResourceRefused(ResourceKind::kMemory, size)) return nullptr;

  BitmapInfo256 info{};
  std::memcpy(&info.header, &header, sizeof info.header);
  for (int i = 0; i < kColorTableSize; ++i) {
    const auto level = static_cast<BYTE>(i);
    info.colors[i] = RGBQUAD{level, level, level, 0};
  }
  HDC referenceDc = reference ? static_cast<HDC>(reference->DeviceContext()) : nullptr;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(referenceDc, reinterpret_cast<const BITMAPINFO*>(&info),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr && bits != nullptr) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
      DeleteObject(bitmap);
      return nullptr;
    }
    HGDIOBJ previous = SelectObject(dc, bitmap);
    if (previous == nullptr || previous == HGDI_ERROR) {
      DeleteDC(dc);
      DeleteObject(bitmap);
      return nullptr;
    }
    std::memset(bits, 0, size);
    return std::make_unique<DibSectionStorage>(dc, bitmap, previous, static_cast<uint8_t*>(bits));
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  return CreatePlainDibStorage(size);
}

}  // namespace varnel
