#include "imagefile/save_image_file.h"

#include "imagefile/image_writers.h"
#include "imaging/pixel_format.h"

namespace varnel {

namespace {

constexpr uint16_t kBitCountOfClass[6] = {8, 16, 24, 32, 48, 64};

int JpegQuality(uint32_t format) {
  switch (format) {
    case kSaveFormatJpeg70:
      return 70;
    case kSaveFormatJpeg20:
      return 20;
    default:
      return 100;
  }
}

}  // namespace

SaveRefusal CheckSaveRequest(const char* fileName, const DibImage* image, int colorClass,
                             int significantBits, int format) {
  if (fileName == nullptr || fileName[0] == '\0') return SaveRefusal::kNoFileName;
  if (image == nullptr || image->Empty()) return SaveRefusal::kEmptyImage;
  // The number is compared as unsigned, so negative numbers are unknown too.
  if (static_cast<uint32_t>(format) > kSaveFormatTiff) return SaveRefusal::kUnknownFormat;
  if (colorClass < kColorClassMono8 || colorClass > kColorClassBgr64 ||
      image->BitCount() != kBitCountOfClass[colorClass]) {
    return SaveRefusal::kImageMismatch;
  }
  if (IsDeepClass(colorClass) ? significantBits < 9 || significantBits > 16
                              : significantBits != 8) {
    return SaveRefusal::kImageMismatch;
  }
  return SaveRefusal::kNone;
}

bool SaveImageFile(const char* fileName, const DibImage* image, int colorClass, int significantBits,
                   int format) {
  if (CheckSaveRequest(fileName, image, colorClass, significantBits, format) !=
      SaveRefusal::kNone) {
    return false;
  }
  switch (static_cast<uint32_t>(format)) {
    case kSaveFormatBmp:
      return image->SaveBmp(fileName);
    case kSaveFormatRaw:
      return WriteRawFile(fileName, *image);
    case kSaveFormatJpeg100:
    case kSaveFormatJpeg70:
    case kSaveFormatJpeg20:
      return WriteJpegFile(fileName, *image, significantBits,
                           JpegQuality(static_cast<uint32_t>(format)));
    case kSaveFormatPng:
      return WritePngFile(fileName, *image, significantBits);
    default:
      return WriteTiffFile(fileName, *image, significantBits);
  }
}

}  // namespace varnel
