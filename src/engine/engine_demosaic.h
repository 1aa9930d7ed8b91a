// The colour engine's demosaic routines.
//
// Two kinds exist side by side. The scalar forms are bilinear: each output
// pixel is made from the 2x2 block of samples with the pixel at its bottom
// right, with 9/3/3/1 weights for red and blue and the mean of the block's
// two greens, and they leave the two outer rows and columns alone. The vector
// forms (SSE2) use 5x5 gradient-corrected kernels and compute every pixel,
// reading 0 outside the frame. The two kinds therefore give different
// pictures; both read the mosaic by the engine's phase table
// (engine/engine_phase.h).
//
// All gains here are in 128ths (128 = x1); docs/engine.md explains how that
// unit relates to the percent-based formula of the bilinear demosaic.
#pragma once

#include <cstdint>

#include "engine/color_matrix_stage.h"
#include "engine/engine_phase.h"

namespace varnel {

// Red, green and blue gains in 128ths.
struct EngineGains {
  int red = 128;
  int green = 128;
  int blue = 128;
};

// The bilinear sums at (x, y): red and blue in sixteenths of a sample (at most
// 16 x 255) and the sum of the two greens, all from the 2x2 block whose bottom
// right sample is (x, y) and the samples around it. Needs 2 <= x and 2 <= y
// and x + 1, y + 1 inside the frame.
struct BilinearSums {
  int red = 0;
  int blue = 0;
  int greenPair = 0;
};
BilinearSums EngineBilinearSums(const uint8_t* raw, int pitch, EnginePhase phase, int x, int y);

// The colour of one position by the bilinear formula with gains in 128ths and
// without the limit at 255 (the hot-pixel test uses it that way).
struct EngineColor {
  int red = 0;
  int green = 0;
  int blue = 0;
};
EngineColor EngineBilinearColor(const BilinearSums& sums, const EngineGains& gains);

// Scalar colour demosaic into 32-bit B, G, R, 255 pixels. Writes the pixels at
// 2 <= x <= width - 3, 2 <= y <= height - 3; frames smaller than 5 x 5 write
// nothing.
void EngineScalarDemosaic(const uint8_t* raw, int width, int height, EnginePhase phase,
                          const EngineGains& gains, uint8_t* out, int outStride);

// Scalar two-green average into 32-bit (v, v, v, 255) pixels, same interior.
void EngineScalarTwoGreen(const uint8_t* raw, int width, int height, EnginePhase phase,
                          uint8_t* out, int outStride);

// Gray image of the gray converter: bilinear red and blue at unit gain and
// the green pair average, weighted 30/59/11. `outBytesPerPixel` is 1 (8-bit
// palettised image) or 4 ((v, v, v, 255) pixels). Same interior.
void EngineScalarGray(const uint8_t* raw, int width, int height, EnginePhase phase, uint8_t* out,
                      int outStride, int outBytesPerPixel);

// The three families of vector routines.
enum class EngineVectorFamily : int {
  kColorWithMatrix = 0,  // colour, then the fixed-point colour matrix
  kColor = 1,            // colour without the matrix
  kGray = 2,             // weighted luminance of the interpolated colours
};

struct EngineVectorParams {
  const uint8_t* origin = nullptr;  // first frame sample in the padded work buffer
  int pitch = 0;                    // bytes between rows of the work buffer
  int width = 0;
  int height = 0;
  EngineGains gains;                         // 128ths, each 0..65535
  const FixedColorMatrix* matrix = nullptr;  // the colour-with-matrix family only
  uint8_t* out = nullptr;                    // 32-bit pixels
  int outStride = 0;
};

using EngineVectorRoutine = void (*)(const EngineVectorParams& params);

// The vector routine of a family for an engine phase (0..3); phases outside
// that range give phase 0. Only call the result when the processor has SSE2.
EngineVectorRoutine SelectEngineVectorRoutine(EngineVectorFamily family, EnginePhase phase);
// The same routine twice as wide with AVX2 (bit for bit the same frame). Only
// call the result when HaveAvx2Forms() (imaging/tone_kernels.h) says so.
EngineVectorRoutine SelectEngineVectorRoutineAvx2(EngineVectorFamily family, EnginePhase phase);
bool EngineVectorAvx2Built();

}  // namespace varnel
