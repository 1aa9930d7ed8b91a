#include "imagefile/sample_forms.h"

#include <algorithm>
#include <cstddef>

namespace varnel {

namespace {

inline uint32_t Load16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }

template <SampleOrder kOrder>
inline void Store16(uint8_t* p, uint32_t value) {
  if (kOrder == SampleOrder::kLittleEndian) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
  } else {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
  }
}

inline uint32_t Widen(uint32_t sample, int shift) {
  return std::min<uint32_t>(sample << shift, 0xFFFF);
}

inline uint8_t Reduce(uint32_t sample, int shift) {
  return static_cast<uint8_t>(std::min<uint32_t>(sample >> shift, 0xFF));
}

template <SampleOrder kOrder>
void WidenMono(const uint8_t* source, uint8_t* destination, int width, int shift) {
  for (int x = 0; x < width; ++x)
    Store16<kOrder>(destination + 2 * x, Widen(Load16(source + 2 * x), shift));
}

template <SampleOrder kOrder>
void WidenColor(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                int shift, bool opaqueFourth) {
  const int outBytes = opaqueFourth ? 8 : 6;
  for (int x = 0; x < width; ++x) {
    const uint8_t* s = source + static_cast<std::ptrdiff_t>(x) * sourceBytesPerPixel;
    uint8_t* d = destination + static_cast<std::ptrdiff_t>(x) * outBytes;
    Store16<kOrder>(d, Widen(Load16(s + 4), shift));
    Store16<kOrder>(d + 2, Widen(Load16(s + 2), shift));
    Store16<kOrder>(d + 4, Widen(Load16(s), shift));
    if (opaqueFourth) Store16<kOrder>(d + 6, 0xFFFF);
  }
}

}  // namespace

int WidenShift(uint16_t bitCount, int significantBits) {
  const int headroom = std::max(16 - significantBits, 0);
  switch (bitCount) {
    case 16:
      return std::min(4, headroom);
    case 48:
    case 64:
      return std::min(6, headroom);
    default:
      return 0;
  }
}

void WidenMonoRow(const uint8_t* source, uint8_t* destination, int width, int shift,
                  SampleOrder order) {
  if (order == SampleOrder::kBigEndian) {
    WidenMono<SampleOrder::kBigEndian>(source, destination, width, shift);
  } else {
    WidenMono<SampleOrder::kLittleEndian>(source, destination, width, shift);
  }
}

void WidenColorRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                   int shift, bool opaqueFourth, SampleOrder order) {
  if (order == SampleOrder::kBigEndian) {
    WidenColor<SampleOrder::kBigEndian>(source, sourceBytesPerPixel, destination, width, shift,
                                        opaqueFourth);
  } else {
    WidenColor<SampleOrder::kLittleEndian>(source, sourceBytesPerPixel, destination, width, shift,
                                           opaqueFourth);
  }
}

void ReduceMonoRow(const uint8_t* source, uint8_t* destination, int width, int shift) {
  for (int x = 0; x < width; ++x) destination[x] = Reduce(Load16(source + 2 * x), shift);
}

void ReduceColorRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                    int shift) {
  for (int x = 0; x < width; ++x) {
    const uint8_t* s = source + static_cast<std::ptrdiff_t>(x) * sourceBytesPerPixel;
    uint8_t* d = destination + static_cast<std::ptrdiff_t>(x) * 3;
    d[0] = Reduce(Load16(s), shift);
    d[1] = Reduce(Load16(s + 2), shift);
    d[2] = Reduce(Load16(s + 4), shift);
  }
}

void RedFirstRow(const uint8_t* source, int sourceBytesPerPixel, uint8_t* destination, int width,
                 FourthByte fourth) {
  const int outBytes = fourth == FourthByte::kNone ? 3 : 4;
  for (int x = 0; x < width; ++x) {
    const uint8_t* s = source + static_cast<std::ptrdiff_t>(x) * sourceBytesPerPixel;
    uint8_t* d = destination + static_cast<std::ptrdiff_t>(x) * outBytes;
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
    if (fourth == FourthByte::kComplement) d[3] = static_cast<uint8_t>(255 - s[3]);
  }
}

}  // namespace varnel
