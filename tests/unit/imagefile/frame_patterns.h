// Frame images for the writer tests, in every colour mode, and what each file
// format must hold for them. The expectations are written from the formats'
// rules (which samples, in which order, moved by how much), not from the
// writers' code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "support/image_readers.h"
#include "imagefile/dib_image.h"

namespace varnel::testing {

struct ColorMode {
  const char* name;
  int colorClass;
  int bits;        // significant bits per sample
  int widenShift;  // how far PNG and TIFF move deep samples up
};

// The fifteen colour modes. 10-bit pictures keep the shifts they always had
// (mono 4, colour 6); deeper ones move up only as far as 16 bits allow.
inline constexpr ColorMode kColorModes[] = {
    {"mono 8", 0, 8, 0},        {"mono 10", 1, 10, 4},      {"mono 12", 1, 12, 4},
    {"mono 14", 1, 14, 2},      {"mono 16", 1, 16, 0},      {"colour 24", 2, 8, 0},
    {"colour 32", 3, 8, 0},     {"colour 48/10", 4, 10, 6}, {"colour 48/12", 4, 12, 4},
    {"colour 48/14", 4, 14, 2}, {"colour 48/16", 4, 16, 0}, {"colour 64/10", 5, 10, 6},
    {"colour 64/12", 5, 12, 4}, {"colour 64/14", 5, 14, 2}, {"colour 64/16", 5, 16, 0},
};

inline uint16_t BitCountOf(int colorClass) {
  constexpr uint16_t kBits[] = {8, 16, 24, 32, 48, 64};
  return kBits[colorClass];
}

inline bool IsDeep(const ColorMode& m) { return m.colorClass == 1 || m.colorClass >= 4; }
inline int ColorChannels(const ColorMode& m) { return m.colorClass <= 1 ? 1 : 3; }

// Sample c (0 blue, 1 green, 2 red, 3 the fourth) of pixel (x, y) as held.
inline uint32_t HeldSample(const DibImage& image, int x, int y, int c) {
  const int sampleBytes = image.BitCount() == 16 || image.BitCount() >= 48 ? 2 : 1;
  const uint8_t* p =
      image.Row(y) + static_cast<size_t>(x) * image.BytesPerPixel() + c * sampleBytes;
  return sampleBytes == 2 ? static_cast<uint32_t>(p[0] | p[1] << 8) : p[0];
}

// A frame whose rows differ from top to bottom and whose columns differ from
// left to right in every channel, smooth enough for JPEG, reaching the top of
// the significant range (so that an overflowing shift shows), with the fourth
// sample of 32- and 64-bit pixels set (which no file may show as it is) and
// the row padding filled with 0xEE (which BMP and RAW keep and PNG and TIFF
// must not).
inline std::unique_ptr<DibImage> MakeFrame(const ColorMode& m, int width, int height) {
  auto image = std::make_unique<DibImage>();
  if (!image->Create(width, height, BitCountOf(m.colorClass))) return nullptr;
  const uint32_t top = (1u << m.bits) - 1;
  const int channels = image->BitCount() == 32 || image->BitCount() == 64 ? 4 : ColorChannels(m);
  const int sampleBytes = IsDeep(m) ? 2 : 1;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image->Row(y);
    for (int x = 0; x < width; ++x) {
      const double across = width > 1 ? double(x) / (width - 1) : 0;
      const double down = height > 1 ? double(y) / (height - 1) : 0;
      const double level[4] = {(across + down) / 2, across, 1 - down, 0};
      for (int c = 0; c < channels; ++c) {
        uint32_t v = static_cast<uint32_t>(level[c] * top + 0.5);
        if (c == 3) v = (x * 37 + y * 11) % (sampleBytes == 2 ? 65536 : 256);
        uint8_t* p = row + static_cast<size_t>(x) * image->BytesPerPixel() + c * sampleBytes;
        p[0] = static_cast<uint8_t>(v);
        if (sampleBytes == 2) p[1] = static_cast<uint8_t>(v >> 8);
      }
    }
    const size_t used = static_cast<size_t>(width) * image->BytesPerPixel();
    std::memset(row + used, 0xEE, image->Stride() - used);
  }
  return image;
}

// What a PNG or TIFF of the frame holds: red first, deep samples moved up by
// the mode's shift; the fourth sample of a 32-bit pixel becomes alpha 255 - X
// (opaque for the X = 0 the colour routines leave), of a 64-bit pixel 65535.
inline DecodedPicture ExpectedWide(const DibImage& image, const ColorMode& m) {
  DecodedPicture p;
  p.width = image.Width();
  p.height = image.Height();
  const bool fourth = image.BitCount() == 32 || image.BitCount() == 64;
  p.channels = ColorChannels(m) + (fourth ? 1 : 0);
  p.bitsPerSample = IsDeep(m) ? 16 : 8;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      for (int c = 0; c < p.channels; ++c) {
        uint32_t v;
        if (c == 3) {
          v = image.BitCount() == 64 ? 65535 : 255 - HeldSample(image, x, y, 3);
        } else {
          const int held = p.channels == 1 ? 0 : 2 - c;  // red first
          v = std::min<uint32_t>(HeldSample(image, x, y, held) << m.widenShift, 65535);
        }
        p.samples.push_back(static_cast<uint16_t>(v));
      }
    }
  }
  return p;
}

// What a JPEG of the frame should decode to: 8-bit grey or red, green, blue,
// deep samples reduced to their top eight significant bits.
inline DecodedPicture ExpectedJpeg(const DibImage& image, const ColorMode& m) {
  DecodedPicture p;
  p.width = image.Width();
  p.height = image.Height();
  p.channels = ColorChannels(m);
  p.bitsPerSample = 8;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      for (int c = 0; c < p.channels; ++c) {
        const int held = p.channels == 1 ? 0 : 2 - c;
        p.samples.push_back(static_cast<uint16_t>(
            std::min<uint32_t>(HeldSample(image, x, y, held) >> (m.bits - 8), 255)));
      }
    }
  }
  return p;
}

}  // namespace varnel::testing
