#include "support/image_readers.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace varnel::testing {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --- PNG ----------------------------------------------------------------------

namespace {

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  FILE* file = nullptr;
  std::vector<png_bytep> rows;
  std::vector<uint8_t> bytes;
};

void QuietPngWarning(png_structp, png_const_charp) {}

bool DecodePng(PngRead& r, PngFile& out) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_init_io(r.png, r.file);
  png_read_info(r.png, r.info);
  DecodedPicture& p = out.picture;
  p.width = static_cast<int>(png_get_image_width(r.png, r.info));
  p.height = static_cast<int>(png_get_image_height(r.png, r.info));
  p.bitsPerSample = png_get_bit_depth(r.png, r.info);
  p.channels = png_get_channels(r.png, r.info);
  out.colorType = png_get_color_type(r.png, r.info);
  out.interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
  // No transformations: the rows come as the file holds them (16-bit samples
  // most significant byte first), and are taken apart here.
  const size_t rowBytes = png_get_rowbytes(r.png, r.info);
  r.bytes.assign(rowBytes * p.height, 0);
  r.rows.resize(p.height);
  for (int y = 0; y < p.height; ++y) r.rows[y] = r.bytes.data() + y * rowBytes;
  png_read_image(r.png, r.rows.data());
  png_read_end(r.png, nullptr);
  const size_t count = static_cast<size_t>(p.width) * p.height * p.channels;
  p.samples.resize(count);
  const size_t perRow = static_cast<size_t>(p.width) * p.channels;
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* row = r.rows[y];
    for (size_t i = 0; i < perRow; ++i) {
      p.samples[y * perRow + i] =
          p.bitsPerSample == 16 ? static_cast<uint16_t>(row[2 * i] << 8 | row[2 * i + 1]) : row[i];
    }
  }
  return true;
}

}  // namespace

bool ReadPngFile(const std::string& path, PngFile& out) {
  out = PngFile{};
  PngRead r;
  r.file = std::fopen(path.c_str(), "rb");
  if (r.file == nullptr) return false;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, QuietPngWarning);
  r.info = r.png ? png_create_info_struct(r.png) : nullptr;
  const bool ok = r.png && r.info && DecodePng(r, out);
  png_destroy_read_struct(&r.png, &r.info, nullptr);
  std::fclose(r.file);
  return ok;
}

// --- JPEG ---------------------------------------------------------------------

namespace {

struct JpegRead {
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  std::jmp_buf jump;
  FILE* file;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(static_cast<JpegRead*>(info->client_data)->jump, 1);
}
void QuietJpegMessage(j_common_ptr) {}

bool DecodeJpeg(JpegRead& r, JpegFile& out, std::vector<uint8_t>& row) {
  if (setjmp(r.jump)) {
    jpeg_destroy_decompress(&r.info);
    return false;
  }
  jpeg_create_decompress(&r.info);
  jpeg_stdio_src(&r.info, r.file);
  jpeg_read_header(&r.info, TRUE);
  out.progressive = r.info.progressive_mode != 0;
  jpeg_start_decompress(&r.info);
  DecodedPicture& p = out.picture;
  p.width = static_cast<int>(r.info.output_width);
  p.height = static_cast<int>(r.info.output_height);
  p.channels = r.info.output_components;
  p.bitsPerSample = 8;
  const size_t perRow = static_cast<size_t>(p.width) * p.channels;
  p.samples.resize(perRow * p.height);
  row.resize(perRow);
  while (r.info.output_scanline < r.info.output_height) {
    const size_t y = r.info.output_scanline;
    JSAMPROW rowPointer = row.data();
    jpeg_read_scanlines(&r.info, &rowPointer, 1);
    for (size_t i = 0; i < perRow; ++i) p.samples[y * perRow + i] = row[i];
  }
  jpeg_finish_decompress(&r.info);
  jpeg_destroy_decompress(&r.info);
  return true;
}

}  // namespace

bool ReadJpegFile(const std::string& path, JpegFile& out) {
  out = JpegFile{};
  auto r = std::make_unique<JpegRead>();
  std::memset(&r->info, 0, sizeof r->info);
  r->file = std::fopen(path.c_str(), "rb");
  if (r->file == nullptr) return false;
  r->info.err = jpeg_std_error(&r->error);
  r->error.error_exit = OnJpegError;
  r->error.output_message = QuietJpegMessage;
  r->info.client_data = r.get();
  std::vector<uint8_t> row;
  const bool ok = DecodeJpeg(*r, out, row);
  std::fclose(r->file);
  return ok;
}

// --- TIFF ---------------------------------------------------------------------

bool ReadTiffFile(const std::string& path, TiffFile& out) {
  out = TiffFile{};
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return false;
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, compression = 0, planar = 0;
  bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) &&
            TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) &&
            TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) &&
            TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) &&
            TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) &&
            TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression) &&
            TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (ok) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &out.rowsPerStrip);
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra != nullptr) {
      out.extraSamples.assign(extra, extra + extraCount);
    }
    out.bigEndianFile = TIFFIsBigEndian(tiff) != 0;
    out.strips = TIFFNumberOfStrips(tiff);
    out.photometric = photometric;
    out.compression = compression;
    out.planarConfig = planar;
    DecodedPicture& p = out.picture;
    p.width = static_cast<int>(width);
    p.height = static_cast<int>(height);
    p.channels = samples;
    p.bitsPerSample = bits;
    const size_t count = static_cast<size_t>(width) * height * samples;
    const size_t bytes = count * (bits / 8);
    std::vector<uint8_t> data(bytes);
    // The whole picture, strip after strip, as libtiff decodes it (16-bit
    // samples in the machine's order).
    size_t at = 0;
    for (uint32_t s = 0; ok && s < out.strips; ++s) {
      const tmsize_t n =
          TIFFReadEncodedStrip(tiff, s, data.data() + at, static_cast<tmsize_t>(bytes - at));
      ok = n > 0;
      at += ok ? static_cast<size_t>(n) : 0;
    }
    ok = ok && at == bytes;
    p.samples.resize(count);
    for (size_t i = 0; ok && i < count; ++i) {
      uint16_t v = data[i];
      if (bits == 16) std::memcpy(&v, &data[2 * i], 2);
      p.samples[i] = v;
    }
  }
  TIFFClose(tiff);
  return ok;
}

// --- BMP ----------------------------------------------------------------------

namespace {

uint32_t U32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool ReadBmpFile(const std::string& path, BmpFile& out) {
  out = BmpFile{};
  const std::vector<uint8_t> file = ReadWholeFile(path);
  if (file.size() < 54) return false;
  const uint8_t* f = file.data();
  out.type = U16(f);
  out.fileSize = U32(f + 2);
  out.dataOffset = U32(f + 10);
  out.headerSize = U32(f + 14);
  out.width = static_cast<int32_t>(U32(f + 18));
  out.height = static_cast<int32_t>(U32(f + 22));
  out.planes = U16(f + 26);
  out.bitCount = U16(f + 28);
  out.compression = U32(f + 30);
  if (out.dataOffset > file.size() || out.dataOffset < 54) return false;
  out.colorTable.assign(file.begin() + 54, file.begin() + out.dataOffset);
  out.pixels.assign(file.begin() + out.dataOffset, file.end());
  return true;
}

double Psnr(const DecodedPicture& a, const DecodedPicture& b) {
  if (a.samples.size() != b.samples.size() || a.samples.empty()) return 0;
  double squared = 0;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    const double d = static_cast<double>(a.samples[i]) - b.samples[i];
    squared += d * d;
  }
  if (squared == 0) return std::numeric_limits<double>::infinity();
  const double mse = squared / a.samples.size();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace varnel::testing
