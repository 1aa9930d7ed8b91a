// The sample forms the file writers hand to the image libraries, one row at a
// time.
//
// Frame images hold deep samples (16-bit mono, 48- and 64-bit colour) right
// aligned, least significant byte first, with 10 to 16 significant bits. The
// 16-bit files (PNG, TIFF) move them up: 16-bit mono by 4 bits and colour by
// 6 bits, as the library always did for 10-bit pictures, but never further
// than 16 - significant bits, so that 12-, 14- and 16-bit samples keep their
// top bits instead of overflowing. The 8-bit JPEG keeps the top eight
// significant bits, as the preview shows them. A sample beyond its
// significant bits (which no conversion produces) saturates instead of
// wrapping round to a dark value.
//
// Colour rows are held blue first; the converters that feed the libraries
// write red first.
#pragma once

#include <cstdint>

namespace varnel {

// How far a writer moves the deep samples of an image with `bitCount` bits per
// pixel up for a 16-bit file: 16-bit mono min(4, 16 - significantBits), 48 and
// 64 bits min(6, 16 - significantBits), 0 for every other bit count.
int WidenShift(uint16_t bitCount, int significantBits);

// How far a deep sample is moved down to its top eight significant bits.
inline int ReduceShift(int significantBits) {
  return significantBits > 8 ? significantBits - 8 : 0;
}

// Byte order of the 16-bit samples a converter writes.
enum class SampleOrder { kLittleEndian, kBigEndian };

// 16-bit mono: each sample shifted up by `shift` (saturating at 65535).
void WidenMonoRow(const uint8_t* source, uint8_t* destination, int width, int shift,
                  SampleOrder order);

// 48- or 64-bit colour (`sourceBytesPerPixel` 6 or 8) to R, G, B, each shifted
// up by `shift` (saturating); with `opaqueFourth` a fourth sample 65535
// follows.
void WidenColorRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                   int shift, bool opaqueFourth, SampleOrder order);

// 16-bit mono to 8 bits: each sample shifted down by `shift`, at most 255.
void ReduceMonoRow(const uint8_t* source, uint8_t* destination, int width, int shift);

// 48- or 64-bit colour to 24-bit B, G, R: the first three samples shifted down
// by `shift`, at most 255.
void ReduceColorRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                    int shift);

// What follows R, G, B when a colour row is turned red first.
enum class FourthByte {
  kNone,        // three bytes per pixel
  kComplement,  // 255 minus the source's fourth byte (an opaque alpha from an unused 0)
};

// 24- or 32-bit B, G, R[, X] to R, G, B followed by `fourth`.
void RedFirstRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                 FourthByte fourth);

}  // namespace varnel
