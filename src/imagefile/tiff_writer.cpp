// Uncompressed TIFF files through libtiff, the whole picture in one strip.
//
// libtiff writes through this writer's OutputFile (TIFFClientOpen), so that
// its writes and seeks, the directory written when the file is finished, and
// the close are all checked. Its messages are not printed: the library keeps
// no log, and a failure shows in the result.
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <tiffio.h>

#include "imagefile/image_writers.h"
#include "imagefile/sample_forms.h"
#include "platform/output_file.h"

namespace varnel {

namespace {

OutputFile& FileOf(thandle_t handle) { return *static_cast<OutputFile*>(handle); }

tmsize_t ReadNothing(thandle_t, void*, tmsize_t) { return -1; }

tmsize_t WriteToFile(thandle_t handle, void* data, tmsize_t size) {
  if (size < 0 || !FileOf(handle).Write(data, static_cast<size_t>(size))) return -1;
  return size;
}

toff_t SeekInFile(thandle_t handle, toff_t offset, int whence) {
  const OutputFile::SeekFrom from = whence == SEEK_SET   ? OutputFile::SeekFrom::kBegin
                                    : whence == SEEK_END ? OutputFile::SeekFrom::kEnd
                                                         : OutputFile::SeekFrom::kCurrent;
  const int64_t position = FileOf(handle).Seek(static_cast<int64_t>(offset), from);
  return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
}

// The writer closes the file itself, after libtiff has let go of it, so that
// the close can be checked.
int LeaveOpen(thandle_t) { return 0; }

toff_t SizeOfFile(thandle_t handle) {
  const int64_t size = FileOf(handle).Size();
  return size < 0 ? 0 : static_cast<toff_t>(size);
}

int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff records the machine's byte order in the file and expects 16-bit
// samples in it.
constexpr SampleOrder kMachineOrder =
    std::endian::native == std::endian::big ? SampleOrder::kBigEndian : SampleOrder::kLittleEndian;

// One row of the strip: red first, deep samples widened, no padding.
void FillRow(const DibImage& image, int32_t y, int shift, uint8_t* out) {
  const uint8_t* source = image.Row(y);
  const int width = image.Width();
  switch (image.BitCount()) {
    case 8:
      std::memcpy(out, source, static_cast<size_t>(width));
      break;
    case 16:
      WidenMonoRow(source, out, width, shift, kMachineOrder);
      break;
    case 24:
      RedFirstRow(source, 3, out, width, FourthByte::kNone);
      break;
    case 32:
      RedFirstRow(source, 4, out, width, FourthByte::kComplement);
      break;
    default:  // 48, 64
      WidenColorRow(source, image.BytesPerPixel(), out, width, shift, image.BitCount() == 64,
                    kMachineOrder);
      break;
  }
}

bool SetTags(TIFF* tiff, const DibImage& image) {
  const int bitCount = image.BitCount();
  const bool deep = bitCount == 16 || bitCount >= 48;
  const uint16_t samples = bitCount <= 16 ? 1 : bitCount == 24 || bitCount == 48 ? 3 : 4;
  const uint16_t photometric = samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width())) &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height())) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, deep ? 16 : 8) &&
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) &&
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.Height()));
  if (ok && samples == 4) {
    // The fourth sample is an opaque alpha, as in PNG files. Left as the
    // colour routines leave it (0) and declared as alpha or as unspecified
    // data, readers would show the picture wholly transparent.
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  return ok;
}

}  // namespace

bool WriteTiffFile(const char* fileName, const DibImage& image, int significantBits) {
  const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
  const size_t stripBytes = rowBytes * static_cast<size_t>(image.Height());

  // Scratch first, so that a failed allocation creates no file.
  std::unique_ptr<uint8_t[]> strip(new (std::nothrow) uint8_t[stripBytes]);
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!strip || options == nullptr) {
    TIFFOpenOptionsFree(options);
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);

  const int shift = WidenShift(image.BitCount(), significantBits);
  for (int32_t y = 0; y < image.Height(); ++y) FillRow(image, y, shift, strip.get() + y * rowBytes);

  OutputFile file;
  if (!file.Create(fileName)) {
    TIFFOpenOptionsFree(options);
    return false;
  }
  TIFF* tiff = TIFFClientOpenExt(fileName, "w", &file, ReadNothing, WriteToFile, SeekInFile,
                                 LeaveOpen, SizeOfFile, MapNothing, UnmapNothing, options);
  TIFFOpenOptionsFree(options);
  bool ok = tiff != nullptr && SetTags(tiff, image);
  ok = ok && TIFFWriteEncodedStrip(tiff, 0, strip.get(), static_cast<tmsize_t>(stripBytes)) ==
                 static_cast<tmsize_t>(stripBytes);
  // TIFFClose cannot report a failure to write the directory; TIFFFlush can.
  ok = ok && TIFFFlush(tiff) == 1;
  if (tiff != nullptr) TIFFClose(tiff);
  return file.Close() && ok;
}

}  // namespace varnel
