// What distinguishes the nine camera models on the camera's side: sensor size,
// register transfer form, read-out order and the registers that carry window,
// sub-sampling, mirror, gain, exposure and trigger.
#pragma once

#include <cstdint>

#include "device/model_code.h"
#include "sim/virtual_head.h"

namespace varnel::sim {

enum class Transport : uint8_t { kTopDown, kBottomUp, kTwoEnded };
enum class WindowSource : uint8_t { kStream, kR2T, kHXA1, kHXB2 };
enum class SubsampleRegs : uint8_t { kNone, kR2T, kHX };
enum class MirrorRegs : uint8_t { kNone, kR2T, kHX };
enum class GainRegs : uint8_t { kNone, kG1, kG2, kG3 };
enum class ExposureRegs : uint8_t { kNone, kReg11, kReg9, kReg82, kReg3166, kE5, kE6 };
enum class TriggerRegs : uint8_t { kNone, kHXA1, kHZG7 };

struct ModelTraits {
  ModelCode code;
  uint32_t width, height;
  RegisterForm registerForm;
  uint32_t wideTopMask;
  Transport transport;
  WindowSource window;
  bool originFromSector;
  SubsampleRegs subsample;
  MirrorRegs mirror;
  GainRegs gain;
  ExposureRegs exposure;
  TriggerRegs trigger;
  uint32_t referenceGain, gainScale, referenceExposure;
  uint32_t nativeBits;
  int bayerPhase;
  bool alwaysEightBit;
};

// The traits of a model; an unknown code gets the plainest head: the first
// model's behaviour.
const ModelTraits& TraitsOf(ModelCode model);

// Size of the camera volume of a model in bytes.
uint64_t VolumeSizeOf(const ModelTraits& traits);

}  // namespace varnel::sim
