// JPEG files through libjpeg: progressive, at the quality the format asks for.
//
// libjpeg reports a fatal error by calling its error manager's error_exit,
// whose standard form ends the process. This writer's error_exit jumps back
// into the writer instead, which destroys the compressor and returns failure;
// the file is closed by its owner on the way out. Nothing that needs a
// destructor lives in the frames that the jump leaves.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

// jpeglib.h expects size_t and FILE to be declared already.
#include <jpeglib.h>
#include <jerror.h>

#include "imagefile/image_writers.h"
#include "imagefile/sample_forms.h"
#include "platform/output_file.h"

namespace varnel {

namespace {

constexpr size_t kOutputBufferBytes = 64 * 1024;

// Everything the compressor's callbacks reach, found through client_data.
// Plain data only, so that the error jump may leave it as it is.
struct JpegJob {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  jpeg_destination_mgr destination;
  std::jmp_buf jump;
  OutputFile* file;
  uint8_t* outputBuffer;
  const DibImage* image;
  uint8_t* row;  // the converted row for deep images, else null
  int shift;
  int quality;
};

JpegJob& JobOf(j_common_ptr info) { return *static_cast<JpegJob*>(info->client_data); }
JpegJob& JobOf(j_compress_ptr info) { return *static_cast<JpegJob*>(info->client_data); }

void OnFatalError(j_common_ptr info) { std::longjmp(JobOf(info).jump, 1); }

// The library keeps no log: libjpeg's messages are not printed.
void OnMessage(j_common_ptr) {}

void InitDestination(j_compress_ptr info) {
  info->dest->next_output_byte = JobOf(info).outputBuffer;
  info->dest->free_in_buffer = kOutputBufferBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  JpegJob& job = JobOf(info);
  // libjpeg asks for the whole buffer to be written, whatever free_in_buffer
  // says.
  if (!job.file->Write(job.outputBuffer, kOutputBufferBytes)) ERREXIT(info, JERR_FILE_WRITE);
  info->dest->next_output_byte = job.outputBuffer;
  info->dest->free_in_buffer = kOutputBufferBytes;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  JpegJob& job = JobOf(info);
  const size_t used = kOutputBufferBytes - info->dest->free_in_buffer;
  if (used > 0 && !job.file->Write(job.outputBuffer, used)) ERREXIT(info, JERR_FILE_WRITE);
}

// Runs the compressor over the whole image. Returns false after a libjpeg
// error, with the compressor destroyed.
bool Compress(JpegJob& job) {
  if (setjmp(job.jump)) {
    jpeg_destroy_compress(&job.info);
    return false;
  }
  jpeg_create_compress(&job.info);
  job.info.dest = &job.destination;

  const DibImage& image = *job.image;
  job.info.image_width = static_cast<JDIMENSION>(image.Width());
  job.info.image_height = static_cast<JDIMENSION>(image.Height());
  // libjpeg-turbo reads blue-first rows itself, so 24- and 32-bit rows go in
  // as they are held.
  switch (image.BitCount()) {
    case 8:
    case 16:
      job.info.input_components = 1;
      job.info.in_color_space = JCS_GRAYSCALE;
      break;
    case 32:
      job.info.input_components = 4;
      job.info.in_color_space = JCS_EXT_BGRX;
      break;
    default:  // 24, and 48 and 64 reduced to 24
      job.info.input_components = 3;
      job.info.in_color_space = JCS_EXT_BGR;
      break;
  }
  jpeg_set_defaults(&job.info);
  jpeg_set_quality(&job.info, job.quality, TRUE);
  jpeg_simple_progression(&job.info);
  jpeg_start_compress(&job.info, TRUE);

  while (job.info.next_scanline < job.info.image_height) {
    const uint8_t* source = image.Row(static_cast<int32_t>(job.info.next_scanline));
    JSAMPROW row = const_cast<JSAMPROW>(source);
    if (image.BitCount() == 16) {
      ReduceMonoRow(source, job.row, image.Width(), job.shift);
      row = job.row;
    } else if (image.BitCount() >= 48) {
      ReduceColorRow(source, image.BytesPerPixel(), job.row, image.Width(), job.shift);
      row = job.row;
    }
    jpeg_write_scanlines(&job.info, &row, 1);
  }
  jpeg_finish_compress(&job.info);
  jpeg_destroy_compress(&job.info);
  return true;
}

}  // namespace

bool WriteJpegFile(const char* fileName, const DibImage& image, int significantBits, int quality) {
  if (image.Width() > JPEG_MAX_DIMENSION || image.Height() > JPEG_MAX_DIMENSION) return false;
  const bool deep = image.BitCount() == 16 || image.BitCount() >= 48;
  const size_t rowBytes = static_cast<size_t>(image.Width()) * (image.BitCount() == 16 ? 1 : 3);

  // Scratch first, so that a failed allocation creates no file.
  std::unique_ptr<uint8_t[]> outputBuffer(new (std::nothrow) uint8_t[kOutputBufferBytes]);
  std::unique_ptr<uint8_t[]> row(deep ? new (std::nothrow) uint8_t[rowBytes] : nullptr);
  std::unique_ptr<JpegJob> job(new (std::nothrow) JpegJob());
  if (!outputBuffer || (deep && !row) || !job) return false;

  OutputFile file;
  if (!file.Create(fileName)) return false;

  job->info.err = jpeg_std_error(&job->error);
  job->error.error_exit = OnFatalError;
  job->error.output_message = OnMessage;
  job->info.client_data = job.get();
  job->destination.init_destination = InitDestination;
  job->destination.empty_output_buffer = EmptyOutputBuffer;
  job->destination.term_destination = TermDestination;
  job->file = &file;
  job->outputBuffer = outputBuffer.get();
  job->image = &image;
  job->row = row.get();
  job->shift = ReduceShift(significantBits);
  job->quality = quality;

  const bool compressed = Compress(*job);
  return file.Close() && compressed;
}

}  // namespace varnel
