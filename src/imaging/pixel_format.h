// The output classes and significant-bit codes chosen by the colour mode, and
// the Bayer phase of a raw mosaic as the frame pipeline numbers it.
#pragma once

namespace varnel {

// Output class of the instance's frame image.
enum ColorClass : int {
  kColorClassMono8 = 0,   // monochrome, 8 bits per pixel
  kColorClassMono16 = 1,  // monochrome, 10..16 significant bits in 16
  kColorClassBgr24 = 2,   // colour, 24 bits per pixel
  kColorClassBgr32 = 3,   // colour, 32 bits per pixel
  kColorClassBgr48 = 4,   // colour, 30..48 significant bits in 48
  kColorClassBgr64 = 5,   // colour, 64 bits per pixel
};

// Significant bits per deep sample: 0 gives 8, 1 gives 10, 2 gives 12,
// 3 gives 14, 4 gives 16.
using BitDepthCode = int;

inline constexpr int SignificantBits(BitDepthCode code) {
  return code == 1 ? 10 : code == 2 ? 12 : code == 3 ? 14 : code == 4 ? 16 : 8;
}
// The code of a number of significant bits (0 for 8 and for any other number).
inline constexpr BitDepthCode BitDepthCodeFor(int bits) {
  return bits == 10 ? 1 : bits == 12 ? 2 : bits == 14 ? 3 : bits == 16 ? 4 : 0;
}

// Which colour the first samples of the raw mosaic carry, numbered as the
// frame pipeline numbers it (0..3). The colour engine keeps its own numbering,
// which differs; see engine/engine_phase.h.
using BayerPhase = int;

inline constexpr bool IsDeepClass(int colorClass) {
  return colorClass == kColorClassMono16 || colorClass == kColorClassBgr48 ||
         colorClass == kColorClassBgr64;
}
inline constexpr bool IsColorClass(int colorClass) { return colorClass >= kColorClassBgr24; }

}  // namespace varnel
