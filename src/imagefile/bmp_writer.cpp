// BMP and RAW files: the image's own bytes, with a bitmap header (BMP) or
// without (RAW).
#include <cstring>

#include "imagefile/buffered_output.h"
#include "imagefile/image_writers.h"
#include "platform/output_file.h"

namespace varnel {

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kColorTableBytes = kColorTableSize * 4;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

void PutInfoHeader(const BitmapInfoHeader& h, uint8_t* p) {
  Put32(p, h.size);
  Put32(p + 4, static_cast<uint32_t>(h.width));
  Put32(p + 8, static_cast<uint32_t>(h.height));
  Put16(p + 12, h.planes);
  Put16(p + 14, h.bitCount);
  Put32(p + 16, h.compression);
  Put32(p + 20, h.sizeImage);
  Put32(p + 24, static_cast<uint32_t>(h.xPelsPerMeter));
  Put32(p + 28, static_cast<uint32_t>(h.yPelsPerMeter));
  Put32(p + 32, h.clrUsed);
  Put32(p + 36, h.clrImportant);
}

}  // namespace

bool WriteBmpFile(const char* fileName, const DibImage& image) {
  const bool hasColorTable = image.BitCount() <= 8;
  const uint32_t dataOffset =
      kFileHeaderBytes + kInfoHeaderBytes + (hasColorTable ? kColorTableBytes : 0);
  uint8_t head[kFileHeaderBytes + kInfoHeaderBytes + kColorTableBytes] = {};
  head[0] = 'B';
  head[1] = 'M';
  // DibImage keeps its buffers below 2 GiB, so the size fits the field.
  Put32(head + 2, dataOffset + static_cast<uint32_t>(image.ImageSize()));
  Put32(head + 10, dataOffset);
  PutInfoHeader(image.Header(), head + kFileHeaderBytes);
  if (hasColorTable) {
    RgbQuad table[kColorTableSize] = {};
    image.GetColorTable(0, kColorTableSize, table);
    uint8_t* entry = head + kFileHeaderBytes + kInfoHeaderBytes;
    for (const RgbQuad& q : table) {
      entry[0] = q.blue;
      entry[1] = q.green;
      entry[2] = q.red;
      entry[3] = q.reserved;
      entry += 4;
    }
  }

  // The buffer comes first, so that a failed allocation creates no file.
  OutputFile file;
  BufferedOutput out(file);
  if (!out.Ready() || !file.Create(fileName)) return false;
  // The header declares a bottom-up bitmap and the buffer holds the top row
  // first: the rows go out last buffer row first.
  bool ok = out.Put(head, dataOffset);
  for (int32_t row = image.Height() - 1; ok && row >= 0; --row) {
    ok = out.Put(image.Row(row), static_cast<size_t>(image.Stride()));
  }
  ok = out.Flush() && ok;
  // Closing is checked too: a delayed write error shows only there.
  return file.Close() && ok;
}

bool WriteRawFile(const char* fileName, const DibImage& image) {
  OutputFile file;
  if (!file.Create(fileName)) return false;
  const bool written = file.Write(image.Pixels(), image.ImageSize());
  return file.Close() && written;
}

bool DibImage::SaveBmp(const char* fileName) const {
  if (fileName == nullptr || Empty()) return false;
  return WriteBmpFile(fileName, *this);
}

}  // namespace varnel
