// The abstract image processor: what any consumer of a converted frame may
// ask of the object that holds it. The colour engine is the one kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/dib_storage.h"

namespace varnel {

class ImageProcessor {
 public:
  virtual ~ImageProcessor() = default;

  // Output format code (0..6); see ColorEngine for their meaning.
  virtual int GetFormat() const = 0;
  // Stores `code` and returns true when 0 <= code <= 6; false otherwise.
  virtual bool SetFormat(int code) = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  // Bytes per output row for the current format (0 for format 1).
  virtual int GetStride() const = 0;
  // The image of the current format: the 16-bit buffer (6), the raw buffer
  // (0) or the output buffer (others). Null when none is allocated.
  virtual uint8_t* GetImageBuffer() = 0;
  // The header kept for the output image.
  virtual const BitmapInfoHeader* GetBitmapHeader() const = 0;
  virtual bool IsAllocated() const = 0;
  // Bytes in the raw copy, and the copy itself (null when there is none).
  virtual size_t GetRawSize() const = 0;
  virtual uint8_t* GetRawBuffer() = 0;
  // Frees every buffer and zeroes the header.
  virtual void Release() = 0;
  // Writes the image to a file; non-zero on success.
  virtual int Save(const std::filesystem::path& fileName) = 0;
};

}  // namespace varnel
