// varnelcam snap --dng: the raw Bayer mosaic as a DNG file, for users who do
// their own demosaicing. Written with libtiff; one uncompressed strip per 64
// rows, the colour filter pattern named by the library's Bayer mode.
#include <tiffio.h>

#include <cstdio>
#include <string>

#include "cli.h"

namespace varnelcam {

namespace {

// The library's Bayer modes as DNG colour filter patterns (0 = red, 1 =
// green, 2 = blue; row 0 left, row 0 right, row 1 left, row 1 right).
constexpr uint8_t kPatterns[4][4] = {
    {1, 2, 0, 1},  // 0: G B / R G
    {0, 1, 1, 2},  // 1: R G / G B
    {2, 1, 1, 0},  // 2: B G / G R
    {1, 0, 2, 1},  // 3: G R / B G
};

}  // namespace

bool WriteDng(const std::string& path, const uint8_t* samples, int width, int height, int rowBytes,
              int bitsPerSample, int significantBits, int phase, const std::string& model) {
  if (phase < 0 || phase > 3) {
    std::fprintf(stderr, "varnelcam: Bayer mode %d names no colour filter pattern\n", phase);
    return false;
  }
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) {
    std::fprintf(stderr, "varnelcam: cannot create '%s'\n", path.c_str());
    return false;
  }
  constexpr uint32_t kRowsPerStrip = 64;
  const uint8_t dngVersion[4] = {1, 4, 0, 0};
  const uint8_t backwardVersion[4] = {1, 1, 0, 0};
  const uint16_t patternDim[2] = {2, 2};
  // Without a measured colour calibration the camera's colours are taken as
  // sRGB primaries under D65: an identity matrix, a neutral white.
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const float neutral[3] = {1, 1, 1};
  const float black[1] = {0};
  const uint32_t white[1] = {(1u << significantBits) - 1};
  const std::string uniqueModel = "Varnel " + model;

  bool ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0) &&
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip) &&
            TIFFSetField(tif, TIFFTAG_MAKE, "Varnel") &&
            TIFFSetField(tif, TIFFTAG_MODEL, model.c_str()) &&
            TIFFSetField(tif, TIFFTAG_SOFTWARE, "varnelcam") &&
            TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, patternDim) &&
            TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, kPatterns[phase]) &&
            TIFFSetField(tif, TIFFTAG_DNGVERSION, dngVersion) &&
            TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backwardVersion) &&
            TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, uniqueModel.c_str()) &&
            TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, identity) &&
            TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral) &&
            TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21) &&
            TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 1, black) &&
            TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, white);
  for (int row = 0; ok && row < height; ++row) {
    // libtiff takes a row it may not change only through a non-const pointer.
    ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(samples + static_cast<size_t>(row) * rowBytes),
                           static_cast<uint32_t>(row), 0) == 1;
  }
  TIFFClose(tif);
  if (!ok) {
    std::fprintf(stderr, "varnelcam: writing '%s' failed\n", path.c_str());
    std::remove(path.c_str());
  }
  return ok;
}

}  // namespace varnelcam
