// The format writers behind SaveImageFile. Each one creates the file, writes
// the picture with every write checked, closes the file (checking the close)
// and returns true only when all of that succeeded. They expect what
// SaveImageFile has already checked: a file name, and a non-empty image of 8,
// 16, 24, 32, 48 or 64 bits per pixel. The picture's first buffer row is the
// top of the picture in every format.
#pragma once

#include "imagefile/dib_image.h"

namespace varnel {

// Windows bitmap: the image's own header and (for 8 bits) colour table, rows
// bottom-up as the header declares, each with its padding as held.
bool WriteBmpFile(const char* fileName, const DibImage& image);

// The buffer as it is held: rows top first, with their padding, no header.
bool WriteRawFile(const char* fileName, const DibImage& image);

// Progressive JPEG at `quality`: grey for 8- and 16-bit images, colour for the
// others; deep samples reduced to their top eight significant bits. False for
// a picture wider or higher than JPEG can hold (checked before the file is
// created).
bool WriteJpegFile(const char* fileName, const DibImage& image, int significantBits, int quality);

// PNG: grey (8, 16 bits), RGB (24, 48) or RGB with alpha (32, 64); deep
// samples widened by WidenShift. A libpng error is reported on the standard
// error stream as "libpng error: <text>".
bool WritePngFile(const char* fileName, const DibImage& image, int significantBits);

// Uncompressed TIFF in one strip, holding the same samples as the PNG: grey (8,
// 16 bits), RGB (24, 48) or RGB with alpha (32, 64); 16-bit samples in the
// machine's byte order.
bool WriteTiffFile(const char* fileName, const DibImage& image, int significantBits);

}  // namespace varnel
