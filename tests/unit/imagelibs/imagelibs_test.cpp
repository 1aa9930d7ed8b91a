// The three image libraries the file writers use, proven on each target: a
// small picture goes through each library to a file and back. PNG and TIFF
// must return it exactly; JPEG within its loss.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

namespace fs = std::filesystem;

struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;           // samples per pixel
  int bits = 8;               // per sample: 8 or 16
  std::vector<uint8_t> data;  // rows top first, no padding; 16-bit samples in host order

  size_t RowBytes() const { return static_cast<size_t>(width) * channels * (bits / 8); }
};

// A picture with gradients in every channel and a few hard edges, so that
// swapped channels, swapped bytes, lost rows or a wrong row length all show.
Picture MakePicture(int width, int height, int channels, int bits) {
  Picture p{width, height, channels, bits, {}};
  p.data.resize(p.RowBytes() * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const unsigned value = (x * 255 / (width - 1) * (c + 1) + y * 7 * (c + 2)) % 256;
        const size_t at = (static_cast<size_t>(y) * width + x) * channels + c;
        if (bits == 8) {
          p.data[at] = static_cast<uint8_t>(value);
        } else {
          const uint16_t deep = static_cast<uint16_t>(value * 257 ^ (x * 31 + y * 3));
          std::memcpy(&p.data[at * 2], &deep, 2);
        }
      }
    }
  }
  return p;
}

class ImageLibsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("varnel_imagelibs_" + std::string(info->name()) + "_" +
                                        std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// --- PNG --------------------------------------------------------------------

bool WritePng(const std::string& path, const Picture& p) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, p.width, p.height, p.bits,
               p.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // PNG keeps 16-bit samples most significant byte first; ours are in host
  // (little-endian) order, as the file writer's are.
  if (p.bits == 16) png_set_swap(png);
  for (int y = 0; y < p.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(p.data.data() + y * p.RowBytes()));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

bool ReadPng(const std::string& path, Picture& p) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  p.width = static_cast<int>(png_get_image_width(png, info));
  p.height = static_cast<int>(png_get_image_height(png, info));
  p.bits = png_get_bit_depth(png, info);
  p.channels = png_get_channels(png, info);
  if (p.bits == 16) png_set_swap(png);
  png_read_update_info(png, info);
  p.data.assign(p.RowBytes() * p.height, 0);
  for (int y = 0; y < p.height; ++y) png_read_row(png, p.data.data() + y * p.RowBytes(), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return true;
}

TEST_F(ImageLibsTest, PngRoundTripIsExact) {
  struct Case {
    int width, height, channels, bits;
  };
  for (const Case c : {Case{37, 23, 3, 8}, Case{19, 11, 1, 16}, Case{64, 2, 1, 8}}) {
    const Picture original = MakePicture(c.width, c.height, c.channels, c.bits);
    const std::string path = PathOf("round.png");
    ASSERT_TRUE(WritePng(path, original)) << c.channels << "x" << c.bits;
    Picture back;
    ASSERT_TRUE(ReadPng(path, back));
    EXPECT_EQ(back.width, c.width);
    EXPECT_EQ(back.height, c.height);
    EXPECT_EQ(back.channels, c.channels);
    EXPECT_EQ(back.bits, c.bits);
    EXPECT_TRUE(back.data == original.data) << c.channels << "x" << c.bits;
  }
}

TEST_F(ImageLibsTest, PngReaderRejectsATruncatedFile) {
  const Picture original = MakePicture(37, 23, 3, 8);
  const std::string path = PathOf("cut.png");
  ASSERT_TRUE(WritePng(path, original));
  fs::resize_file(path, fs::file_size(path) / 2);
  Picture back;
  EXPECT_FALSE(ReadPng(path, back));
}

// --- JPEG -------------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

bool WriteJpeg(const std::string& path, const Picture& p, int quality) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::fclose(file);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(p.width);
  info.image_height = static_cast<JDIMENSION>(p.height);
  info.input_components = p.channels;
  info.in_color_space = p.channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(p.data.data() + info.next_scanline * p.RowBytes());
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(file) == 0;
}

bool ReadJpeg(const std::string& path, Picture& p) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  p.width = static_cast<int>(info.output_width);
  p.height = static_cast<int>(info.output_height);
  p.channels = info.output_components;
  p.bits = 8;
  p.data.assign(p.RowBytes() * p.height, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = p.data.data() + info.output_scanline * p.RowBytes();
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return true;
}

TEST_F(ImageLibsTest, JpegRoundTripIsCloseAndQualityMatters) {
  // A smooth picture: JPEG's loss on it is small at high quality and grows as
  // the quality drops.
  Picture original{64, 48, 3, 8, {}};
  original.data.resize(original.RowBytes() * original.height);
  for (int y = 0; y < original.height; ++y) {
    for (int x = 0; x < original.width; ++x) {
      uint8_t* px = &original.data[(y * original.width + x) * 3];
      px[0] = static_cast<uint8_t>(x * 4);
      px[1] = static_cast<uint8_t>(y * 5);
      px[2] = static_cast<uint8_t>(128 + (x - y));
    }
  }
  double meanError[2] = {};
  const int qualities[2] = {95, 20};
  for (int i = 0; i < 2; ++i) {
    const std::string path = PathOf("round.jpg");
    ASSERT_TRUE(WriteJpeg(path, original, qualities[i]));
    Picture back;
    ASSERT_TRUE(ReadJpeg(path, back));
    ASSERT_EQ(back.width, original.width);
    ASSERT_EQ(back.height, original.height);
    ASSERT_EQ(back.channels, 3);
    long total = 0;
    int worst = 0;
    for (size_t k = 0; k < original.data.size(); ++k) {
      const int diff = std::abs(int(back.data[k]) - int(original.data[k]));
      total += diff;
      worst = std::max(worst, diff);
    }
    meanError[i] = double(total) / original.data.size();
    if (qualities[i] == 95) {
      EXPECT_LT(meanError[i], 2.0);
      EXPECT_LE(worst, 16);
    }
  }
  EXPECT_GT(meanError[1], meanError[0]);
}

// --- TIFF -------------------------------------------------------------------

bool WriteTiff(const std::string& path, const Picture& p) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (!tiff) return false;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(p.channels));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(p.bits));
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
               p.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(p.height));
  const tmsize_t size = static_cast<tmsize_t>(p.data.size());
  const bool ok = TIFFWriteEncodedStrip(tiff, 0, const_cast<uint8_t*>(p.data.data()), size) == size;
  TIFFClose(tiff);
  return ok;
}

bool ReadTiff(const std::string& path, Picture& p) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return false;
  uint32_t width = 0, height = 0;
  uint16_t channels = 0, bits = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  p = Picture{static_cast<int>(width), static_cast<int>(height), channels, bits, {}};
  p.data.assign(p.RowBytes() * p.height, 0);
  const tmsize_t size = static_cast<tmsize_t>(p.data.size());
  const bool ok =
      TIFFNumberOfStrips(tiff) == 1 && TIFFReadEncodedStrip(tiff, 0, p.data.data(), size) == size;
  TIFFClose(tiff);
  return ok;
}

TEST_F(ImageLibsTest, TiffRoundTripIsExact) {
  struct Case {
    int width, height, channels, bits;
  };
  for (const Case c : {Case{37, 23, 3, 8}, Case{19, 11, 1, 16}, Case{5, 40, 3, 16}}) {
    const Picture original = MakePicture(c.width, c.height, c.channels, c.bits);
    const std::string path = PathOf("round.tif");
    ASSERT_TRUE(WriteTiff(path, original)) << c.channels << "x" << c.bits;
    Picture back;
    ASSERT_TRUE(ReadTiff(path, back)) << c.channels << "x" << c.bits;
    EXPECT_EQ(back.width, c.width);
    EXPECT_EQ(back.height, c.height);
    EXPECT_EQ(back.channels, c.channels);
    EXPECT_EQ(back.bits, c.bits);
    EXPECT_TRUE(back.data == original.data) << c.channels << "x" << c.bits;
  }
}

}  // namespace
