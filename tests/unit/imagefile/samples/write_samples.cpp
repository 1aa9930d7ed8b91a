// Writes one picture in every colour mode and every format into a folder,
// with reference pictures (PAM) of what each file must show and a manifest of
// the checks for second_opinion.sh, which lets programs outside this project
// (ImageMagick, pngcheck, tiffinfo) judge the files.
//
//   imagefile_samples <folder>
#include <cstdio>
#include <fstream>
#include <string>

#include "../frame_patterns.h"
#include "imagefile/save_image_file.h"

namespace {

using namespace varnel;
using namespace varnel::testing;

// A PAM file (netpbm's format with a tuple type), samples most significant
// byte first.
bool WritePam(const std::string& path, const DecodedPicture& p) {
  const char* tuple = p.channels == 1 ? "GRAYSCALE" : p.channels == 3 ? "RGB" : "RGB_ALPHA";
  std::ofstream out(path, std::ios::binary);
  out << "P7\nWIDTH " << p.width << "\nHEIGHT " << p.height << "\nDEPTH " << p.channels
      << "\nMAXVAL " << (p.bitsPerSample == 16 ? 65535 : 255) << "\nTUPLTYPE " << tuple
      << "\nENDHDR\n";
  for (uint16_t v : p.samples) {
    if (p.bitsPerSample == 16) out.put(static_cast<char>(v >> 8));
    out.put(static_cast<char>(v & 0xFF));
  }
  return static_cast<bool>(out);
}

// The 8-bit picture a viewer shows for a BMP of an 8-, 24- or 32-bit frame.
DecodedPicture ExpectedBmp(const DibImage& image, const ColorMode& m) {
  DecodedPicture p;
  p.width = image.Width();
  p.height = image.Height();
  p.channels = ColorChannels(m);
  p.bitsPerSample = 8;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      for (int c = 0; c < p.channels; ++c) {
        p.samples.push_back(
            static_cast<uint16_t>(HeldSample(image, x, y, p.channels == 1 ? 0 : 2 - c)));
      }
    }
  }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  std::ofstream manifest(dir + "manifest.txt", std::ios::binary);
  int failures = 0;
  auto save = [&](const DibImage& image, const ColorMode& m, const std::string& name, int format) {
    if (SaveImageFile((dir + name).c_str(), &image, m.colorClass, m.bits, format)) return true;
    std::fprintf(stderr, "could not save %s\n", name.c_str());
    ++failures;
    return false;
  };
  for (const ColorMode& m : kColorModes) {
    std::string tag = m.name;
    for (char& ch : tag) {
      if (ch == ' ' || ch == '/') ch = '_';
    }
    const auto frame = MakeFrame(m, 160, 120);
    if (!frame) return 1;

    if (save(*frame, m, tag + ".png", kSaveFormatPng) &&
        WritePam(dir + tag + ".wide.pam", ExpectedWide(*frame, m))) {
      manifest << "png " << tag << ".png\n";
      manifest << "exact " << tag << ".png " << tag << ".wide.pam\n";
    }
    if (save(*frame, m, tag + ".tif", kSaveFormatTiff)) {
      manifest << "tiff " << tag << ".tif\n";
      manifest << "exact " << tag << ".tif " << tag << ".wide.pam\n";
    }
    const DecodedPicture jpeg = ExpectedJpeg(*frame, m);
    WritePam(dir + tag + ".jpeg.pam", jpeg);
    const struct {
      int format;
      const char* suffix;
      int minPsnr;
    } qualities[] = {{kSaveFormatJpeg100, ".q100.jpg", 45},
                     {kSaveFormatJpeg70, ".q70.jpg", 38},
                     {kSaveFormatJpeg20, ".q20.jpg", 30}};
    for (const auto& q : qualities) {
      if (!save(*frame, m, tag + q.suffix, q.format)) continue;
      manifest << "progressive " << tag << q.suffix << "\n";
      manifest << "psnr " << tag << q.suffix << " " << tag << ".jpeg.pam " << q.minPsnr << "\n";
    }
    manifest << "smaller " << tag << ".q100.jpg " << tag << ".q70.jpg " << tag << ".q20.jpg\n";
    // Viewers read 8-, 24- and 32-bit bitmaps; the deep forms are this
    // library's own and are checked by the unit tests. A 32-bit frame's fourth
    // byte is 0 as the colour routines leave it (some readers take other
    // values in a bitmap for alpha).
    if (m.colorClass == 3) {
      for (int y = 0; y < frame->Height(); ++y) {
        for (int x = 0; x < frame->Width(); ++x) frame->Row(y)[4 * x + 3] = 0;
      }
    }
    if (!IsDeep(m) && save(*frame, m, tag + ".bmp", kSaveFormatBmp) &&
        WritePam(dir + tag + ".bmp.pam", ExpectedBmp(*frame, m))) {
      manifest << "exact " << tag << ".bmp " << tag << ".bmp.pam\n";
    }
  }
  return failures == 0 && manifest ? 0 : 1;
}
