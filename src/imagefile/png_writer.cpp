// PNG files through libpng.
//
// Every save has its own libpng structures, error-recovery point and output,
// so that threads may save at the same time. libpng reports errors through
// the writer's handler, which prints the message on the standard error
// stream and jumps back into the writer; the writer then frees the libpng
// structures and returns failure. Nothing that needs a destructor lives in
// the frames that the jump leaves.
#include <cstdio>
#include <memory>
#include <new>

#include <png.h>

#include "imagefile/buffered_output.h"
#include "imagefile/image_writers.h"
#include "imagefile/sample_forms.h"
#include "platform/output_file.h"

namespace varnel {

namespace {

// What one save's callbacks reach. Plain data only.
struct PngJob {
  png_structp png;
  png_infop info;
  BufferedOutput* out;
  const DibImage* image;
  uint8_t* row;  // the converted row, or null when rows go out as held
  int shift;
};

void OnError(png_structp png, png_const_charp message) {
  std::fprintf(stderr, "libpng error: %s\n", message);
  png_longjmp(png, 1);
}

void OnWrite(png_structp png, png_bytep data, png_size_t size) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (!job->out->Put(data, size)) png_error(png, "write error");
}

// Nothing to do: the writer flushes its output once libpng has finished.
void OnFlush(png_structp) {}

// Writes the header and every row. Returns false after a libpng error.
bool Encode(PngJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  const DibImage& image = *job.image;
  const int bitCount = image.BitCount();
  const int depth = bitCount == 16 || bitCount >= 48 ? 16 : 8;
  const int colorType = bitCount <= 16                     ? PNG_COLOR_TYPE_GRAY
                        : bitCount == 24 || bitCount == 48 ? PNG_COLOR_TYPE_RGB
                                                           : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_write_fn(job.png, &job, OnWrite, OnFlush);
  png_set_IHDR(job.png, job.info, static_cast<png_uint_32>(image.Width()),
               static_cast<png_uint_32>(image.Height()), depth, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(job.png, job.info);
  // 24-bit rows go out as held and libpng turns them red first; every other
  // form is converted into PNG's own order (red first, 16-bit samples most
  // significant byte first) here.
  if (bitCount == 24) png_set_bgr(job.png);

  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* source = image.Row(y);
    switch (bitCount) {
      case 16:
        WidenMonoRow(source, job.row, image.Width(), job.shift, SampleOrder::kBigEndian);
        break;
      case 32:
        RedFirstRow(source, 4, job.row, image.Width(), FourthByte::kComplement);
        break;
      case 48:
      case 64:
        WidenColorRow(source, image.BytesPerPixel(), job.row, image.Width(), job.shift,
                      bitCount == 64, SampleOrder::kBigEndian);
        break;
      default:
        break;
    }
    png_write_row(job.png, job.row != nullptr ? job.row : source);
  }
  png_write_end(job.png, job.info);
  return true;
}

}  // namespace

bool WritePngFile(const char* fileName, const DibImage& image, int significantBits) {
  const bool converted = image.BitCount() != 8 && image.BitCount() != 24;
  // PNG rows are as wide as the buffer's rows without their padding.
  const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();

  // Scratch first, so that a failed allocation creates no file.
  std::unique_ptr<uint8_t[]> row(converted ? new (std::nothrow) uint8_t[rowBytes] : nullptr);
  OutputFile file;
  BufferedOutput out(file);
  if ((converted && !row) || !out.Ready()) return false;

  PngJob job{};
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, OnError, nullptr);
  if (job.png == nullptr) return false;
  job.info = png_create_info_struct(job.png);
  if (job.info == nullptr || !file.Create(fileName)) {
    png_destroy_write_struct(&job.png, &job.info);
    return false;
  }
  job.out = &out;
  job.image = &image;
  job.row = row.get();
  job.shift = WidenShift(image.BitCount(), significantBits);

  const bool encoded = Encode(job);
  png_destroy_write_struct(&job.png, &job.info);
  const bool flushed = encoded && out.Flush();
  return file.Close() && flushed;
}

}  // namespace varnel
