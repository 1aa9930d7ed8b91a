#include "sim/model_traits.h"

#include <algorithm>

#include "sim/volume_map.h"

namespace varnel::sim {

namespace {

// Reference gain and exposure are the values the host stores for the model
// by default, so a camera at default settings gives the scene at 75 %.
constexpr ModelTraits kModels[] = {
    {kModelHWH8, 8192, 8192, RegisterForm::kAddress8, 0x3F, Transport::kTopDown,
     WindowSource::kStream, true, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kNone, TriggerRegs::kNone, 14, 32, 1095, 16, 3, false},
    {kModelHXA1, 2048, 1536, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kHXA1, false, SubsampleRegs::kHX, MirrorRegs::kHX, GainRegs::kG1,
     ExposureRegs::kReg9, TriggerRegs::kHXA1, 14, 32, 1095, 10, 3, false},
    {kModelHXB2, 2592, 1944, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kHXB2, false, SubsampleRegs::kHX, MirrorRegs::kHX, GainRegs::kG1,
     ExposureRegs::kReg9, TriggerRegs::kNone, 14, 32, 1095, 12, 3, false},
    {kModelHXE5, 1280, 1024, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kStream, false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kReg82, TriggerRegs::kNone, 16, 32, 480, 10, 1, false},
    {kModelHXC3, 3264, 2448, RegisterForm::kAddress16, 0x3F, Transport::kTopDown,
     WindowSource::kStream, false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kReg3166, TriggerRegs::kNone, 16, 32, 480, 16, 3, false},
    {kModelR2T, 752, 480, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp, WindowSource::kR2T,
     false, SubsampleRegs::kR2T, MirrorRegs::kR2T, GainRegs::kG1, ExposureRegs::kReg11,
     TriggerRegs::kNone, 16, 32, 480, 10, 3, false},
    {kModelHYD4, 1360, 1024, RegisterForm::kWide, 0x3F, Transport::kTopDown, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG2, ExposureRegs::kE5,
     TriggerRegs::kNone, 16, 256, 480, 16, 3, false},
    {kModelHZF6, 1600, 1200, RegisterForm::kWide, 0x3F, Transport::kTopDown, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG2, ExposureRegs::kE5,
     TriggerRegs::kNone, 16, 256, 480, 16, 1, false},
    {kModelHZG7, 2456, 2041, RegisterForm::kWide, 0xFF, Transport::kTwoEnded, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG3, ExposureRegs::kE6,
     TriggerRegs::kHZG7, 16, 256, 480, 8, 1, true},
};

uint64_t AlignUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

}  // namespace

const ModelTraits& TraitsOf(ModelCode model) {
  for (const ModelTraits& traits : kModels) {
    if (traits.code == model) return traits;
  }
  // An unknown code gets the plainest head: the first model's behaviour.
  return kModels[0];
}

uint64_t VolumeSizeOf(const ModelTraits& traits) {
  const uint64_t largestFrame =
      AlignUp(traits.width, 8) * AlignUp(traits.height, 8) * 2 + kSectorSize;
  return kAreaBOffset + AlignUp(std::max(kAreaSpan, largestFrame), kSectorSize);
}

}  // namespace varnel::sim
