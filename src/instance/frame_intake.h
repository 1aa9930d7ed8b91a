// Frame intake: the copy of a camera frame, as the camera sent it, into the
// instance's raw image (8-bit for the classes that take 8-bit data, 16-bit for
// the deep classes), before the frame pipeline works on it.
//
// The copy is model-specific. It fixes the row order (some heads send the
// picture's last row first), undoes the two-ended read-out of one model,
// applies the software mirror on the models whose sensor does not mirror
// (every flip, and the bottom-up copy, over an even extent, so that the
// colour filter's phase never depends on the window's size), and
// turns the camera's two-byte encoding of deep samples (first byte: the top
// eight bits; second byte: the remaining low bits in its low bits) into
// 16-bit little-endian values. With sub-sampling the frame arrives at full
// size and the intake keeps every second (fourth, eighth) 2 x 2 block of the
// mosaic, so the colour filter's phase stays what it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/model_code.h"
#include "imaging/pixel_format.h"

namespace varnel {

class DibImage;

// A frame as the camera sent it.
struct RawFrame {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes at `data`
  // The frame's rows: `frameWidth` samples of `bytesPerSample` bytes each,
  // one row after the other, `frameRows` of them.
  int frameWidth = 0;
  int frameRows = 0;
  int bytesPerSample = 1;
  // The picture inside it: the sensor's capture window, at the start of each
  // row (and in the first rows of the frame).
  int pictureWidth = 0;
  int pictureHeight = 0;
};

struct IntakeSettings {
  ModelCode model = 0;
  BitDepthCode bitDepth = 0;
  bool mirrorV = false;
  bool mirrorH = false;
  int subSample = 0;  // 0..3: keep every 1st, 2nd, 4th or 8th 2 x 2 block
};

// How a model's frames are laid out.
enum class IntakeKind {
  kBottomUp,  // last picture row first
  kTwoEnded,  // each row as two-byte units from both ends; one byte per sample
  kGeneral,   // top row first
};
IntakeKind IntakeKindFor(ModelCode model);

// True for the models whose sensor mirrors its read-out when told to (R2T,
// HXA1, HXJ9, HXB2); the intake mirrors the others' pictures in software.
bool SensorMirrors(ModelCode model);

// Significant bits of the deep samples the intake produces for a model and
// bit-depth code: the bottom-up models decode 10 bits (the model with the
// 12-bit sensor 12 when asked for 12), the others the bits of the code (10
// for an unknown code).
int IntakeSignificantBits(ModelCode model, BitDepthCode bitDepth);

// Copies `frame` into `destination` (already sized: width and height of the
// sub-sampled picture; 8 bits for the 8-bit classes, 16 for the deep ones).
// Every copy is bounded by both buffers: rows are read at the frame's own
// pitch, never past `frame.size`, and only the part of the picture that the
// destination can hold is written. Returns false (nothing written) for a
// missing frame or an empty destination or one that is neither 8 nor 16 bits.
bool IntakeFrame(const RawFrame& frame, const IntakeSettings& settings, DibImage& destination);

}  // namespace varnel
