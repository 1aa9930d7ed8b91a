#include "imagefile/dib_image.h"

#include <algorithm>
#include <limits>

namespace varnel {

namespace {

bool IsSupportedBitCount(uint16_t bitCount) {
  switch (bitCount) {
    case 8:
    case 16:
    case 24:
    case 32:
    case 48:
    case 64:
      return true;
    default:
      return false;
  }
}

void FillGrayRamp(RgbQuad (&table)[kColorTableSize]) {
  for (int i = 0; i < kColorTableSize; ++i) {
    const auto level = static_cast<uint8_t>(i);
    table[i] = RgbQuad{level, level, level, 0};
  }
}

}  // namespace

DibImage::DibImage() = default;

DibImage::~DibImage() { Release(); }

int32_t DibImage::StrideFor(int32_t width, uint16_t bitCount) {
  const int64_t stride = (static_cast<int64_t>(width) * (bitCount / 8) + 3) & ~int64_t{3};
  if (stride < 0 || stride > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(stride);
}

bool DibImage::Create(int32_t width, int32_t height, uint16_t bitCount) {
  Release();
  if (width <= 0 || height <= 0 || !IsSupportedBitCount(bitCount)) return false;
  const int32_t stride = StrideFor(width, bitCount);
  if (stride < 0) return false;

  header_ = BitmapInfoHeader{};
  header_.width = width;
  header_.height = height;
  header_.planes = 1;
  header_.bitCount = bitCount;
  width_ = width;
  height_ = height;
  stride_ = stride;
  bitCount_ = bitCount;
  return Allocate(nullptr);
}

bool DibImage::CopyFormat(const DibImage* source) {
  // Copying the format of oneself would release the very fields being copied.
  if (source == this) return !Empty();
  Release();
  if (source == nullptr || source->width_ <= 0 || source->height_ <= 0 || source->bitCount_ == 0 ||
      source->Empty()) {
    return false;
  }
  header_ = source->header_;
  width_ = source->width_;
  height_ = source->height_;
  stride_ = source->stride_;
  bitCount_ = source->bitCount_;
  return Allocate(source);
}

bool DibImage::Allocate(const DibImage* reference) {
  const int64_t size = static_cast<int64_t>(stride_) * height_;
  // Sizes are handed around as signed 32-bit values (and GDI refuses larger
  // sections anyway), so a buffer beyond that is refused rather than
  // truncated.
  if (size <= 0 || size > std::numeric_limits<int32_t>::max()) {
    Release();
    return false;
  }
  storage_ = CreateDibStorage(header_, stride_, reference ? reference->storage_.get() : nullptr);
  if (!storage_) {
    Release();
    return false;
  }
  pixels_ = storage_->Pixels();

  if (bitCount_ == 8) {
    RgbQuad table[kColorTableSize];
    if (reference != nullptr &&
        reference->GetColorTable(0, kColorTableSize, table) == kColorTableSize) {
      SetColorTable(kColorTableEntries, table, 0, kColorTableSize);
    } else {
      SetColorTable(kColorTableGrayRamp);
    }
  }
  return true;
}

void DibImage::Release() {
  // The storage selects the displaced bitmap back and deletes the section and
  // the device context (or frees the plain block) when it is destroyed.
  storage_.reset();
  pixels_ = nullptr;
  header_ = BitmapInfoHeader{};
  width_ = 0;
  height_ = 0;
  stride_ = 0;
  bitCount_ = 0;
}

bool DibImage::SetColorTable(int mode, const RgbQuad* entries, int first, int count) {
  if (!storage_) return true;
  if (mode == kColorTableGrayRamp) {
    RgbQuad ramp[kColorTableSize];
    FillGrayRamp(ramp);
    storage_->SetColorTable(0, kColorTableSize, ramp);
  } else if (mode == kColorTableEntries && entries != nullptr && first >= 0 &&
             first < kColorTableSize && count > 0) {
    storage_->SetColorTable(first, std::min(count, kColorTableSize - first), entries);
  }
  return true;
}

int DibImage::GetColorTable(int first, int count, RgbQuad* entries) const {
  if (!storage_ || entries == nullptr || first < 0 || first >= kColorTableSize || count <= 0) {
    return 0;
  }
  return storage_->GetColorTable(first, std::min(count, kColorTableSize - first), entries);
}

void* DibImage::DeviceContext() const { return storage_ ? storage_->DeviceContext() : nullptr; }

void* DibImage::Bitmap() const { return storage_ ? storage_->Bitmap() : nullptr; }

namespace {

// Rectangle arithmetic is done in 64 bits so that positions near the ends of
// the 32-bit range cannot wrap around into the image.
struct WideRect {
  int64_t left, top, right, bottom;
};

}  // namespace

int DibImage::ConvertRegion(RegionRoutine routine, const DibImage* source, const PixelRect* rect,
                            int32_t x, int32_t y, void* user, int32_t extra) {
  if (routine == nullptr || source == nullptr) return 0;
  const int64_t width = width_;
  const int64_t height = height_;
  const int64_t sourceWidth = source->width_;
  const int64_t sourceHeight = source->height_;
  const WideRect region = rect ? WideRect{rect->left, rect->top, rect->right, rect->bottom}
                               : WideRect{0, 0, sourceWidth, sourceHeight};

  // 1. Where the region lands in this image, clamped to it.
  WideRect d{x, y, x + (region.right - region.left), y + (region.bottom - region.top)};
  if (d.right <= 0 || d.bottom <= 0 || d.left >= width || d.top >= height) return 0;
  d = {std::max<int64_t>(d.left, 0), std::max<int64_t>(d.top, 0), std::min(d.right, width),
       std::min(d.bottom, height)};
  if (d.right <= d.left || d.bottom <= d.top) return 0;

  // 2. The part of the region that survived, moved by the same amount, then
  // clamped to the source.
  const WideRect unclamped{region.left + (d.left - x), region.top + (d.top - y),
                           region.left + (d.left - x) + (d.right - d.left),
                           region.top + (d.top - y) + (d.bottom - d.top)};
  if (unclamped.right <= 0 || unclamped.bottom <= 0 || unclamped.left >= sourceWidth ||
      unclamped.top >= sourceHeight) {
    return 0;
  }
  const WideRect s{std::max<int64_t>(unclamped.left, 0), std::max<int64_t>(unclamped.top, 0),
                   std::min(unclamped.right, sourceWidth),
                   std::min(unclamped.bottom, sourceHeight)};

  // 3. Whatever the source clamp cut off is cut off the destination too, so
  // that the region's first pixel still lands where the caller placed it and
  // both rectangles keep the same size.
  d.left += s.left - unclamped.left;
  d.top += s.top - unclamped.top;
  d.right += s.right - unclamped.right;
  d.bottom += s.bottom - unclamped.bottom;
  if (d.right <= d.left || d.bottom <= d.top || d.right <= 0 || d.bottom <= 0 || d.left >= width ||
      d.top >= height) {
    return 0;
  }

  // 4. The routine works in buffer rows: the header declares a bottom-up
  // bitmap, so the region's rows are counted from the other end.
  const PixelRect bufferRect{
      static_cast<int32_t>(s.left), static_cast<int32_t>(sourceHeight - s.bottom),
      static_cast<int32_t>(s.right), static_cast<int32_t>(sourceHeight - s.top)};
  return routine(pixels_, source->pixels_, bufferRect, static_cast<int32_t>(d.left),
                 static_cast<int32_t>(height - d.bottom), BytesPerPixel(), source->BytesPerPixel(),
                 stride_, source->stride_, user, extra);
}

int DibImage::ConvertWhole(WholeImageRoutine routine, const DibImage* source,
                           const PixelRect* destinationRect, const PixelRect* sourceRect,
                           void* user, int32_t extra) {
  if (routine == nullptr || source == nullptr || Empty() || source->Empty()) return 0;
  const PixelRect wholeDestination{0, 0, width_, height_};
  const PixelRect wholeSource{0, 0, source->width_, source->height_};
  return routine(pixels_, source->pixels_, destinationRect ? *destinationRect : wholeDestination,
                 sourceRect ? *sourceRect : wholeSource, width_, height_, source->width_,
                 source->height_, BytesPerPixel(), source->BytesPerPixel(), stride_,
                 source->stride_, user, extra);
}

}  // namespace varnel
