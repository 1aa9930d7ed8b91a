// Plain image buffers for driving the region routines directly, sized exactly
// so that AddressSanitizer sees any access outside them.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/region_params.h"
#include "imaging/region_routine.h"

namespace varnel::test {

struct Plane {
  int width = 0, height = 0, bpp = 1, stride = 0;
  std::vector<uint8_t> bytes;

  // `padding` extra bytes at the end of every row beyond the 4-byte rounding.
  Plane(int w, int h, int bytesPerPixel, uint8_t fill = 0, int padding = 0)
      : width(w),
        height(h),
        bpp(bytesPerPixel),
        stride(((w * bytesPerPixel + 3) & ~3) + padding),
        bytes(static_cast<size_t>(stride) * h, fill) {}

  uint8_t* Data() { return bytes.data(); }
  const uint8_t* Data() const { return bytes.data(); }
  uint8_t* Pixel(int x, int y) { return bytes.data() + y * stride + x * bpp; }
  const uint8_t* Pixel(int x, int y) const { return bytes.data() + y * stride + x * bpp; }
  uint8_t& At(int x, int y, int byte = 0) { return Pixel(x, y)[byte]; }
  uint8_t At(int x, int y, int byte = 0) const { return Pixel(x, y)[byte]; }
  uint16_t Sample16(int x, int y, int index = 0) const {
    uint16_t v;
    std::memcpy(&v, Pixel(x, y) + 2 * index, 2);
    return v;
  }
  void SetSample16(int x, int y, uint16_t v, int index = 0) {
    std::memcpy(Pixel(x, y) + 2 * index, &v, 2);
  }
  PixelRect Whole() const { return PixelRect{0, 0, width, height}; }
};

// Runs a region routine from `src` into `dst` with the record behind a slot.
template <typename Record>
int Apply(RegionRoutine routine, Plane& dst, const Plane& src, const PixelRect& rect, int x, int y,
          Record* record) {
  void* slot = &record;
  return routine(dst.Data(), src.Data(), rect, x, y, dst.bpp, src.bpp, dst.stride, src.stride,
                 record == nullptr ? nullptr : slot, 0);
}
inline int Apply(RegionRoutine routine, Plane& dst, const Plane& src) {
  return routine(dst.Data(), src.Data(), src.Whole(), 0, 0, dst.bpp, src.bpp, dst.stride,
                 src.stride, nullptr, 0);
}
template <typename Record>
int Apply(RegionRoutine routine, Plane& dst, const Plane& src, Record* record) {
  return Apply(routine, dst, src, src.Whole(), 0, 0, record);
}

// An 8-bit (or 16-bit with `maxValue` above 255) mosaic of random samples.
inline Plane RandomMosaic(int w, int h, unsigned seed, int maxValue = 255, int padding = 0) {
  const int bpp = maxValue > 255 ? 2 : 1;
  Plane p(w, h, bpp, 0, padding);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, maxValue);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (bpp == 1) {
        p.At(x, y) = static_cast<uint8_t>(dist(rng));
      } else {
        p.SetSample16(x, y, static_cast<uint16_t>(dist(rng)));
      }
    }
  }
  return p;
}

}  // namespace varnel::test
