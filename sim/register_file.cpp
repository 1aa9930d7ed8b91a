// The register file of the head and the effects of its registers on gain,
// exposure and triggering.
#include "sim/head_impl.h"

#include <algorithm>
#include <utility>

namespace varnel {

using namespace sim;

void VirtualHead::Impl::ResetRegisters() {
  auto set = [this](uint32_t address, uint32_t value) { registers[address] = value; };
  const uint32_t w = traits.width, h = traits.height;
  switch (traits.window) {
    case WindowSource::kR2T:
      set(1, 0), set(2, 0), set(3, h - 1), set(4, w - 1);
      break;
    case WindowSource::kHXA1:
      set(1, 20), set(2, 32), set(3, h - 1), set(4, w - 1);
      break;
    case WindowSource::kHXB2:
      set(1, 54), set(2, 16), set(3, h - 1), set(4, w - 1);
      break;
    case WindowSource::kStream:
      break;
  }
  const uint32_t gain = traits.referenceGain, exposure = traits.referenceExposure;
  switch (traits.gain) {
    case GainRegs::kG1:
      set(53, gain);
      break;
    case GainRegs::kG2:
      set(6, gain & 0x3F), set(7, gain >> 6);
      break;
    case GainRegs::kG3:
      set(4, gain | 0x10000);
      break;
    case GainRegs::kNone:
      break;
  }
  switch (traits.exposure) {
    case ExposureRegs::kReg11:
      set(11, exposure);
      break;
    case ExposureRegs::kReg9:
      set(9, exposure);
      break;
    case ExposureRegs::kReg82:
      set(82, exposure);
      break;
    case ExposureRegs::kReg3166:
      set(0x3166, exposure);
      break;
    case ExposureRegs::kE5:
      set(158, exposure & 0x3F), set(159, exposure >> 6);
      break;
    case ExposureRegs::kE6:
      set(154, exposure | 0x802000);
      break;
    case ExposureRegs::kNone:
      break;
  }
  // The sensor with trigger registers starts free-running.
  if (traits.trigger == TriggerRegs::kHZG7) set(32, 0x10);
}

uint32_t VirtualHead::Impl::GainValue() const {
  switch (traits.gain) {
    case GainRegs::kG1:
      return Reg(53) & 0xFF;
    case GainRegs::kG2:
      return (Reg(6) & 0x3F) | (Reg(7) & 0x0F) << 6;
    case GainRegs::kG3:
      return Reg(4) & 0x3FF;
    case GainRegs::kNone:
      break;
  }
  return traits.referenceGain;
}

uint32_t VirtualHead::Impl::ExposureValue() const {
  switch (traits.exposure) {
    case ExposureRegs::kReg11:
      return Reg(11) & 0xFFFF;
    case ExposureRegs::kReg9:
      return Reg(9) & 0xFFFF;
    case ExposureRegs::kReg82:
      return Reg(82) & 0xFFFF;
    case ExposureRegs::kReg3166:
      return Reg(0x3166) & 0xFFFF;
    case ExposureRegs::kE5:
      return (Reg(158) & 0x3F) | (Reg(159) & 0x3F) << 6;
    case ExposureRegs::kE6:
      return Reg(154) & 0xFFF;
    case ExposureRegs::kNone:
      break;
  }
  return traits.referenceExposure;
}

// Brightness relative to the reference settings: linear in (gain scale +
// gain), so gain 0 still gives a picture, and linear in the exposure, or in
// its inverse on the sensor whose exposure register counts the other way
// (there a value of 0 stands for the longest exposure the register holds).
uint32_t VirtualHead::Impl::Permille() const {
  const uint64_t gain = GainValue();
  uint64_t exposure = ExposureValue(), referenceExposure = traits.referenceExposure;
  if (traits.inverseExposure) std::swap(exposure, referenceExposure);
  const uint64_t numerator = 1000 * (traits.gainScale + gain) * exposure;
  const uint64_t denominator =
      uint64_t{traits.gainScale + traits.referenceGain} * std::max<uint64_t>(referenceExposure, 1);
  return static_cast<uint32_t>(std::min<uint64_t>(numerator / denominator, 1'000'000));
}

bool VirtualHead::Impl::SensorAgreesToTrigger() const {
  switch (traits.trigger) {
    case TriggerRegs::kHXA1:
      return (Reg(30) & 0x0100) != 0;
    case TriggerRegs::kHZG7:
      return (Reg(32) & 0x10) == 0;
    case TriggerRegs::kNone:
      break;
  }
  return true;
}

bool VirtualHead::Impl::TriggerModeActive() const {
  return running && runSector[control::kTrigger] == 1 && SensorAgreesToTrigger();
}

// Whether a trigger source is enabled: HXA1 keeps its source mask in bit 9 of
// reg 30, and a sensor with every source masked off sees no trigger; the
// other models take every trigger.
bool VirtualHead::Impl::TriggerSourceEnabled() const {
  return traits.trigger != TriggerRegs::kHXA1 || (Reg(30) & 0x0200) != 0;
}

uint32_t VirtualHead::PeekRegister(uint32_t address) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Reg(address);
}

void VirtualHead::PokeRegister(uint32_t address, uint32_t value) {
  std::lock_guard lock(impl_->mutex);
  if (address < impl_->registers.size()) impl_->registers[address] = value & 0xFFFFFF;
}

}  // namespace varnel
