// Parameter records of the parameterised region routines. A routine receives
// the address of a slot that holds the address of its record.
#pragma once

namespace varnel {

// Demosaic and white-balance parameter: gains in percent (100 = x1).
struct BayerGains {
  int phase;  // BayerPhase 0..3
  int red;
  int green;  // carried but never applied
  int blue;
};

// Gray-mode gains (128 = x1) and offsets per Bayer channel.
struct GrayGains {
  enum Channel { kR = 0, kG1 = 1, kG2 = 2, kB = 3 };
  int phase;      // BayerPhase 0..3
  int gain[4];    // R, G1, G2, B
  int offset[4];  // R, G1, G2, B
};

// Hue and saturation filter parameter.
struct HslAdjust {
  int hue;         // degrees added to every hue
  int lightness;   // added to every lightness
  int saturation;  // added to every saturation
};

}  // namespace varnel
