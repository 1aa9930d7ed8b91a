// The colour engine's two automatic white-balance measurements and the
// hot-pixel correction. Both read the raw mosaic by the engine's phase table.
#pragma once

#include <cstdint>

#include "engine/engine_demosaic.h"
#include "engine/engine_phase.h"

namespace varnel {

// White-balance modes of the engine.
inline constexpr int kWhiteBalanceNone = 0;
inline constexpr int kWhiteBalanceGrayWorld = 1;
inline constexpr int kWhiteBalanceWhitePatch = 2;

// A measurement in the units the measurement itself produces (see
// MeasureGrayWorld and MeasureWhitePatch). `valid` is false when the frame
// gave no usable answer (a colour with mean 0, a zero divisor); the engine
// then keeps the gains it had.
struct WhiteBalanceResult {
  bool valid = false;
  int red = 0;
  int green = 0;
  int blue = 0;
};

// Gray world over every sample of a width x height frame: each gain is
// 100 x (mean of the greens) / (mean of its colour), in percent; green 100.
WhiteBalanceResult MeasureGrayWorld(const uint8_t* raw, int width, int height, EnginePhase phase);

// White patch: the mean colour of the positions whose Y - |Cb| - |Cr| passes
// 190.5 decides red and blue gains in 128ths; green is 100. A frame smaller
// than 5 x 5, or without any qualifying position, gives red 128, green 100,
// blue 128.
WhiteBalanceResult MeasureWhitePatch(const uint8_t* raw, int width, int height, EnginePhase phase);

// The engine keeps its gains in 128ths and within kMinEngineGain..kMaxEngineGain
// (the range the sensor device accepts for them). This turns a measurement of
// `mode` into those gains: percent (gray world, and the green of both modes)
// becomes 128ths, and every gain is limited to the range.
inline constexpr int kMinEngineGain = 1;
inline constexpr int kMaxEngineGain = 400;
EngineGains ToEngineGains(const WhiteBalanceResult& result, int mode);

// Hot-pixel correction in place on a mosaic of `rows` rows of `pitch` bytes.
// A sample at 2 <= x <= pitch - 3, 2 <= y <= rows - 3 that exceeds the mean of
// its four same-colour neighbours two away by at least `threshold` is replaced
// by that mean when at least two of |R - G|, |R - B|, |G - B| of its bilinear
// colour (with `gains`, no limit at 255) exceed 30. Positions are visited in
// row order, so corrected samples feed the later positions. Returns the
// number of samples replaced.
int CorrectHotPixels(uint8_t* raw, int pitch, int rows, EnginePhase phase, int threshold,
                     const EngineGains& gains);

}  // namespace varnel
