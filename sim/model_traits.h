// What distinguishes the nine camera models on the camera's side: sensor size,
// register transfer form, read-out order and the registers that carry window,
// sub-sampling, mirror, gain, exposure and trigger.
#pragma once

#include <cstdint>

#include "device/model_code.h"
#include "sim/optics.h"
#include "sim/virtual_head.h"

namespace varnel::sim {

// How a row travels on the wire: its samples in read-out order, or (the
// two-ended read-out) as two-byte units that carry one sample from each end.
enum class Transport : uint8_t { kRows, kTwoEnded };
enum class WindowSource : uint8_t { kStream, kR2T, kHXA1, kHXB2 };
enum class SubsampleRegs : uint8_t { kNone, kR2T, kHX };
enum class MirrorRegs : uint8_t { kNone, kR2T, kHX };
enum class GainRegs : uint8_t { kNone, kG1, kG2, kG3 };
enum class ExposureRegs : uint8_t { kNone, kReg11, kReg9, kReg82, kReg3166, kE5, kE6 };
enum class TriggerRegs : uint8_t { kNone, kHXA1, kHZG7 };

struct ModelTraits {
  ModelCode code;
  uint32_t width, height;  // the sensor's pixels
  RegisterForm registerForm;
  uint32_t wideTopMask;  // bits of byte 50 a wide register keeps
  Transport transport;
  // The die's edge the sensor reads first; with the lens this decides whether
  // the scene arrives the right way up (optics.h).
  ReadOutStart readOutStart;
  WindowSource window;
  bool originFromSector;  // the window's origin comes with the run command
  SubsampleRegs subsample;
  MirrorRegs mirror;
  GainRegs gain;
  ExposureRegs exposure;
  TriggerRegs trigger;
  // The gain and exposure at which the scene is exposed as intended (its
  // brightest parts at 75 % of full scale): the values the host stores for
  // the model when it has nothing stored. Brightness is linear in
  // (gainScale + gain) and in the exposure, or in its inverse where the
  // exposure register counts the other way.
  uint32_t referenceGain, gainScale, referenceExposure;
  bool inverseExposure;
  uint32_t nativeBits;  // the sensor's own sample depth
  // The colour filter's phase (numbered as the host's BayerPhase) in the
  // sensor's read-out order: the colours of the first two samples of the first
  // two rows of an unmirrored read-out from an even origin.
  int bayerPhase;
  bool alwaysEightBit;
};

// The traits of a model; an unknown code gets the plainest head: the first
// model's behaviour.
const ModelTraits& TraitsOf(ModelCode model);

// Size of the camera volume of a model in bytes.
uint64_t VolumeSizeOf(const ModelTraits& traits);

}  // namespace varnel::sim
