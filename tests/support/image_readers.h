// Readers that decode picture files with the image libraries' own read side
// (and, for BMP, by the format's published layout), independent of the
// library's writers, so that a test can check what any other program would
// see in a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::testing {

// A decoded picture: rows top first, no padding, every sample widened to 16
// bits whatever its depth in the file.
struct DecodedPicture {
  int width = 0;
  int height = 0;
  int channels = 0;
  int bitsPerSample = 0;
  std::vector<uint16_t> samples;

  uint16_t At(int x, int y, int c) const {
    return samples[(static_cast<size_t>(y) * width + x) * channels + c];
  }
};

struct PngFile {
  DecodedPicture picture;
  int colorType = -1;
  bool interlaced = false;
};
// False when libpng refuses the file (a checksum, a truncated stream, ...).
bool ReadPngFile(const std::string& path, PngFile& out);

struct JpegFile {
  DecodedPicture picture;  // 8-bit samples, grey or R, G, B
  bool progressive = false;
};
bool ReadJpegFile(const std::string& path, JpegFile& out);

struct TiffFile {
  DecodedPicture picture;  // samples as libtiff hands them to the reader
  int photometric = -1;
  int compression = -1;
  int planarConfig = -1;
  uint32_t strips = 0;
  uint32_t rowsPerStrip = 0;
  std::vector<uint16_t> extraSamples;
  bool bigEndianFile = false;
};
bool ReadTiffFile(const std::string& path, TiffFile& out);

// The fields of a BMP file as its layout places them, and the pixel bytes in
// file order.
struct BmpFile {
  uint16_t type = 0;
  uint32_t fileSize = 0;
  uint32_t dataOffset = 0;
  uint32_t headerSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  std::vector<uint8_t> colorTable;  // 4 bytes an entry (blue, green, red, 0)
  std::vector<uint8_t> pixels;      // from the data offset to the end
};
bool ReadBmpFile(const std::string& path, BmpFile& out);

std::vector<uint8_t> ReadWholeFile(const std::string& path);

// Peak signal-to-noise ratio in dB of two 8-bit pictures of the same shape
// (infinity when equal).
double Psnr(const DecodedPicture& a, const DecodedPicture& b);

}  // namespace varnel::testing
