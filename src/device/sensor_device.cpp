#include "device/sensor_device.h"

#include <algorithm>
#include <utility>

#include "device/sector_protocol.h"
#include "device/sensor_engine.h"
#include "device/sensor_owner.h"
#include "platform/clock.h"

namespace varnel {

namespace {

constexpr uint32_t kSettingsPauseMs = 8;
constexpr int kWideAddressLimit = static_cast<int>(kMaxAddressWide);
constexpr int kMaxSubsample = 3;

}  // namespace

StreamSize AlignedStreamSize(int width, int height, bool oneByteSamples) {
  const int alignment = oneByteSamples ? 8 : 4;
  auto roundUp = [alignment](int value) {
    return value <= 0 ? 0 : (value + alignment - 1) / alignment * alignment;
  };
  return StreamSize{roundUp(width), roundUp(height)};
}

SensorDevice::SensorDevice() = default;

SensorDevice::~SensorDevice() {
  // The base form on purpose: the model part of the object is already gone.
  SensorDevice::CloseDevice();
}

void SensorDevice::CloseDevice() {
  // Writes accepted while the stream ran and not yet sent go out before the
  // volume closes: the application was told they would be made.
  bool writesQueued = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writesQueued = !deferredWrites_.empty();
  }
  if (writesQueued) {
    // Without a volume each of them fails, and is reported so.
    if (volume_ != nullptr) SendStop();
    while (PerformDeferredWrites()) {
    }
  }
  CloseVolume();
  engine_.store(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ = 0;
  deferredWrites_.clear();
  deferredReadAnswered_ = false;
}

bool SensorDevice::SetDriveLetter(char16_t letter) {
  // Only a drive letter can name a camera volume; anything else would fail
  // every later open, so it is refused here where the caller can report it.
  const bool upper = letter >= u'A' && letter <= u'Z';
  const bool lower = letter >= u'a' && letter <= u'z';
  if (!upper && !lower) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  driveLetter_ = letter;
  return true;
}

char16_t SensorDevice::GetDriveLetter() {
  std::lock_guard<std::mutex> lock(mutex_);
  return driveLetter_;
}

bool SensorDevice::SetOutputBitCount(int bits) {
  if (bits != 24 && bits != 32) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  outputBitCount_ = bits;
  return true;
}

int SensorDevice::GetOutputBitCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputBitCount_;
}

void SensorDevice::GetCaptureWindow(int* x, int* y, int* width, int* height) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (x != nullptr) *x = captureWindow_.x;
  if (y != nullptr) *y = captureWindow_.y;
  if (width != nullptr) *width = captureWindow_.width / (horizontalSubsample_ + 1);
  if (height != nullptr) *height = captureWindow_.height / (verticalSubsample_ + 1);
}

bool SensorDevice::SetCaptureWindow(int x, int y, int width, int height) {
  StoreCaptureWindow(WindowRect{x, y, width, height});
  return true;
}

bool SensorDevice::SetBayerPhase(int phase) {
  if (phase < 0 || phase > 3) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bayerPhase_ = phase;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetBayerPhase(phase);
  return true;
}

int SensorDevice::GetBayerPhase() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bayerPhase_;
}

bool SensorDevice::SetEightBitTransfer(int value) {
  if (value != 0 && value != 1) return false;
  StoreEightBitTransfer(value);
  return true;
}

int SensorDevice::GetEightBitTransfer() {
  std::lock_guard<std::mutex> lock(mutex_);
  return eightBitTransfer_;
}

bool SensorDevice::SetBitDepthCode(int code) {
  if (code < 0 || code > 4) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  bitDepthCode_ = code;
  return true;
}

int SensorDevice::GetBitDepthCode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bitDepthCode_;
}

bool SensorDevice::ReservedSetterA(int) { return false; }

uint8_t SensorDevice::GetOneByteOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  return oneByteOutput_;
}

bool SensorDevice::SetColorFlag(uint8_t color) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    colorFlag_ = color;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetColorFlag(color != 0);
  return true;
}

uint8_t SensorDevice::GetColorFlag() {
  std::lock_guard<std::mutex> lock(mutex_);
  return colorFlag_;
}

bool SensorDevice::SetEngineValue(int value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    engineValue_ = value;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetWhiteBalanceMode(value);
  return true;
}

int SensorDevice::GetEngineValue() {
  std::lock_guard<std::mutex> lock(mutex_);
  return engineValue_;
}

bool SensorDevice::SetPair(uint8_t flag, uint8_t level) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pairFlag_ = flag;
    pairLevel_ = level;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetDefectCorrection(flag != 0, level);
  return true;
}

uint8_t SensorDevice::GetPair(uint8_t* flag, uint8_t* level) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (flag != nullptr) *flag = pairFlag_;
  if (level != nullptr) *level = pairLevel_;
  return pairFlag_;
}

namespace {

// The engine's gain of channel 1, 2 or 3 (red, green, blue).
void SetEngineGain(SensorEngine& engine, int channel, int gain) {
  if (channel == 0) engine.SetRedGain(gain);
  if (channel == 1) engine.SetGreenGain(gain);
  if (channel == 2) engine.SetBlueGain(gain);
}

int GetEngineGain(SensorEngine& engine, int channel) {
  if (channel == 0) return engine.GetRedGain();
  if (channel == 1) return engine.GetGreenGain();
  return engine.GetBlueGain();
}

}  // namespace

bool SensorDevice::SetChannelGain1(int gain) {
  const ValueRange range = ChannelGain1Range();
  if (gain < range.minimum || gain > range.maximum) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    channelGain_[0] = gain;
  }
  if (SensorEngine* engine = engine_.load()) SetEngineGain(*engine, 0, gain);
  return true;
}

ValueRange SensorDevice::ChannelGain1Range() { return ValueRange{1, 400}; }

int SensorDevice::GetChannelGain1() {
  // The engine's white balance may have changed its gains since they were set.
  SensorEngine* engine = engine_.load();
  const int fromEngine = engine != nullptr ? GetEngineGain(*engine, 0) : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (engine != nullptr) channelGain_[0] = fromEngine;
  return channelGain_[0];
}

bool SensorDevice::SetChannelGain2(int gain) {
  const ValueRange range = ChannelGain2Range();
  if (gain < range.minimum || gain > range.maximum) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    channelGain_[1] = gain;
  }
  if (SensorEngine* engine = engine_.load()) SetEngineGain(*engine, 1, gain);
  return true;
}

ValueRange SensorDevice::ChannelGain2Range() { return ValueRange{1, 400}; }

int SensorDevice::GetChannelGain2() {
  SensorEngine* engine = engine_.load();
  const int fromEngine = engine != nullptr ? GetEngineGain(*engine, 1) : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (engine != nullptr) channelGain_[1] = fromEngine;
  return channelGain_[1];
}

bool SensorDevice::SetChannelGain3(int gain) {
  const ValueRange range = ChannelGain3Range();
  if (gain < range.minimum || gain > range.maximum) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    channelGain_[2] = gain;
  }
  if (SensorEngine* engine = engine_.load()) SetEngineGain(*engine, 2, gain);
  return true;
}

ValueRange SensorDevice::ChannelGain3Range() { return ValueRange{1, 400}; }

int SensorDevice::GetChannelGain3() {
  SensorEngine* engine = engine_.load();
  const int fromEngine = engine != nullptr ? GetEngineGain(*engine, 2) : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (engine != nullptr) channelGain_[2] = fromEngine;
  return channelGain_[2];
}

uint8_t SensorDevice::GetSyncV() {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncV_;
}

bool SensorDevice::SetSyncV(uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  syncV_ = value;
  return true;
}

uint8_t SensorDevice::GetSyncH() {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncH_;
}

bool SensorDevice::SetSyncH(uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  syncH_ = value;
  return true;
}

bool SensorDevice::SetGlobalGain(int gain) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingGain;
  if (globalGain_ != gain) settingsRequested_.fetch_add(1);
  globalGain_ = gain;
  return true;
}

ValueRange SensorDevice::GlobalGainRange() { return ValueRange{1, 63}; }

int SensorDevice::GetGlobalGain() {
  std::lock_guard<std::mutex> lock(mutex_);
  return globalGain_;
}

bool SensorDevice::SetExposureTime(int exposure) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingExposure;
  if (exposureTime_ != exposure) settingsRequested_.fetch_add(1);
  exposureTime_ = exposure;
  return true;
}

ValueRange SensorDevice::ExposureRange() { return ValueRange{1, 6400}; }

int SensorDevice::GetExposureTime() {
  std::lock_guard<std::mutex> lock(mutex_);
  return exposureTime_;
}

bool SensorDevice::SetMirrorV(uint8_t mirror) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingMirrorV;
  if (mirrorV_ != mirror) settingsRequested_.fetch_add(1);
  mirrorV_ = mirror;
  return true;
}

uint8_t SensorDevice::GetMirrorV() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mirrorV_;
}

bool SensorDevice::SetMirrorH(uint8_t mirror) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingMirrorH;
  if (mirrorH_ != mirror) settingsRequested_.fetch_add(1);
  mirrorH_ = mirror;
  return true;
}

uint8_t SensorDevice::GetMirrorH() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mirrorH_;
}

int SensorDevice::GetVerticalSubsample() {
  std::lock_guard<std::mutex> lock(mutex_);
  return verticalSubsample_;
}

bool SensorDevice::SetVerticalSubsample(int value) {
  // The window is divided by (value + 1) and the sensors keep the value in two
  // register bits, so only 0..3 is meaningful; -1 would divide by zero.
  if (value < 0 || value > kMaxSubsample) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingSubsample;
  if (verticalSubsample_ != value) settingsRequested_.fetch_add(1);
  verticalSubsample_ = value;
  return true;
}

int SensorDevice::GetHorizontalSubsample() {
  std::lock_guard<std::mutex> lock(mutex_);
  return horizontalSubsample_;
}

bool SensorDevice::SetHorizontalSubsample(int value) {
  if (value < 0 || value > kMaxSubsample) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingSubsample;
  if (horizontalSubsample_ != value) settingsRequested_.fetch_add(1);
  horizontalSubsample_ = value;
  return true;
}

uint8_t SensorDevice::GetTriggerMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return triggerMode_;
}

bool SensorDevice::SetTriggerMode(uint8_t mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  triggerMode_ = mode;
  return true;
}

uint8_t SensorDevice::GetTriggerOption() {
  std::lock_guard<std::mutex> lock(mutex_);
  return triggerOption_;
}

bool SensorDevice::SetTriggerOption(uint8_t option) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChanges_ |= kPendingTriggerOption;
  if (triggerOption_ != option) settingsRequested_.fetch_add(1);
  triggerOption_ = option;
  return true;
}

bool SensorDevice::ReservedSetterB(int) { return false; }
bool SensorDevice::ReservedThreeArguments(int, int, int) { return false; }
bool SensorDevice::ReservedTwoArgumentsA(int, int) { return false; }
bool SensorDevice::ReservedTwoArgumentsB(int, int) { return false; }

template <typename Transfer>
bool SensorDevice::RunRequestNow(Transfer transfer) {
  const bool openedHere = volume_ == nullptr;
  if (openedHere && !OpenVolume()) return false;
  SendStop();
  const bool result = transfer();
  if (openedHere) CloseVolume();
  return result;
}

bool SensorDevice::RequestReadRegister(int address, uint8_t* high, uint8_t* low) {
  if (address < 0 || address > registerAddressLimit_) return false;
  SensorOwner* owner = owner_.load();
  if (owner != nullptr && owner->IsRunning()) {
    std::lock_guard<std::mutex> lock(mutex_);
    deferredReadAddress_ = address;
    deferredReadAnswered_ = false;
    pendingChanges_ |= kPendingDeferredRead;
    return true;
  }
  return RunRequestNow([&] {
    uint8_t readHigh = 0;
    uint8_t readLow = 0;
    const bool ok = ReadRegister(address, &readHigh, &readLow);
    // A read the camera never answered delivers nothing: the caller's bytes
    // keep what it preset them to.
    if (ok) {
      if (high != nullptr) *high = readHigh;
      if (low != nullptr) *low = readLow;
    }
    return ok;
  });
}

bool SensorDevice::TakeDeferredRead(RegisterResultRecord* record) {
  std::lock_guard<std::mutex> lock(mutex_);
  if ((pendingChanges_ & kPendingDeferredRead) != 0) {
    // Not performed yet: withdrawn, so that an answer nobody waits for any
    // more is never read from the camera.
    pendingChanges_ &= ~kPendingDeferredRead;
    return false;
  }
  if (!deferredReadAnswered_) return false;
  deferredReadAnswered_ = false;
  if (record != nullptr) *record = deferredReadOutcome_;
  return true;
}

bool SensorDevice::QueueDeferredWrite(const DeferredWrite& write) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A register written again before the camera took the first value ends
  // with the second either way; the first is dropped, so an application
  // that writes one register faster than frames come never fills the queue.
  // The new value goes to the end: the registers still receive their last
  // values in the order they were asked for.
  std::erase_if(deferredWrites_, [&](const DeferredWrite& queued) {
    return queued.address == write.address && queued.wide == write.wide;
  });
  if (deferredWrites_.size() >= kMaxDeferredWrites) return false;
  deferredWrites_.push_back(write);
  pendingChanges_ |= kPendingDeferredWrite;
  settingsRequested_.fetch_add(1);
  return true;
}

bool SensorDevice::RequestWriteRegister(int address, uint8_t high, uint8_t low) {
  if (address < 0 || address > registerAddressLimit_) return false;
  SensorOwner* owner = owner_.load();
  if (owner != nullptr && owner->IsRunning()) {
    return QueueDeferredWrite(DeferredWrite{address, high, low, false, 0});
  }
  return RunRequestNow([&] { return WriteRegister(address, high, low); });
}

bool SensorDevice::RequestWriteRegisterWide(int address, int value) {
  if (address < 0 || address > kWideAddressLimit) return false;
  if (value < 0 || value > wideValueLimit_) return false;
  SensorOwner* owner = owner_.load();
  if (owner != nullptr && owner->IsRunning()) {
    return QueueDeferredWrite(DeferredWrite{address, static_cast<uint8_t>(value >> 8),
                                            static_cast<uint8_t>(value), true, value});
  }
  return RunRequestNow([&] { return WriteRegisterWide(address, value); });
}

int SensorDevice::FrameByteCount() {
  SensorEngine* engine = engine_.load();
  if (engine == nullptr) return 0;
  const int samples = engine->GetWidth() * engine->GetHeight();
  return engine->IsEightBitRaw() ? samples : samples * 2;
}

int SensorDevice::GetRegisterWindowWidth() {
  std::lock_guard<std::mutex> lock(mutex_);
  return registerWindow_.width;
}

int SensorDevice::GetRegisterWindowHeight() {
  std::lock_guard<std::mutex> lock(mutex_);
  return registerWindow_.height;
}

bool SensorDevice::SetAdjustment1(int value) {
  value = std::clamp(value, -10, 10);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    adjustment1_ = value;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetContrast(value);
  return true;
}

int SensorDevice::GetAdjustment1() {
  std::lock_guard<std::mutex> lock(mutex_);
  return adjustment1_;
}

bool SensorDevice::SetAdjustment2(int value) {
  value = std::clamp(value, -255, 255);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    adjustment2_ = value;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetBrightness(value);
  return true;
}

int SensorDevice::GetAdjustment2() {
  std::lock_guard<std::mutex> lock(mutex_);
  return adjustment2_;
}

bool SensorDevice::SetAdjustment3(int value) {
  value = std::clamp(value, -10, 10);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    adjustment3_ = value;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetSaturation(value);
  return true;
}

int SensorDevice::GetAdjustment3() {
  std::lock_guard<std::mutex> lock(mutex_);
  return adjustment3_;
}

bool SensorDevice::SetHue(int degrees) {
  degrees = std::clamp(degrees, 0, 359);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hue_ = degrees;
  }
  if (SensorEngine* engine = engine_.load()) engine->SetHue(degrees);
  return true;
}

int SensorDevice::GetHue() {
  std::lock_guard<std::mutex> lock(mutex_);
  return hue_;
}

int SensorDevice::SetFrameTimeout(int milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  frameTimeout_ = milliseconds;
  return milliseconds;
}

int SensorDevice::GetFrameTimeout() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameTimeout_;
}

bool SensorDevice::ApplyPendingChanges() {
  SensorOwner* owner = owner_.load();
  if (owner == nullptr) return false;
  // Read before the pending bits: every request counted here has raised its
  // bit already (both happen under the lock), so this pass sends it.
  const uint64_t requested = settingsRequested_.load();
  uint32_t pending = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending = pendingChanges_;
  }
  if (pending == 0) return false;

  // A camera started in trigger mode takes register writes while it waits
  // for a trigger: its sensor is idle between triggered frames. Stopping and
  // restarting it would clear the frame-ready state, and a frame triggered
  // just before would never be read; so it is sent its changes as it runs.
  // A free-running camera is stopped around them, so that no frame is read
  // out while its settings change.
  const bool restart = owner->IsRunning() && !RunningForTriggers();
  if (restart) SendStop();

  using Hook = int32_t (SensorDevice::*)();
  static constexpr std::pair<uint32_t, Hook> kApplyOrder[] = {
      {kPendingWindow, &SensorDevice::ApplyWindow},
      {kPendingSubsample, &SensorDevice::ApplySubsample},
      {kPendingGain, &SensorDevice::ApplyGain},
      {kPendingExposure, &SensorDevice::ApplyExposure},
      {kPendingMirrorV, &SensorDevice::ApplyMirrorV},
      {kPendingMirrorH, &SensorDevice::ApplyMirrorH},
      {kPendingTriggerOption, &SensorDevice::ApplyTriggerOption},
      {kPendingDeferredRead, &SensorDevice::ApplyDeferredRead},
      {kPendingDeferredWrite, &SensorDevice::ApplyDeferredWrite},
      {kPendingReserved, &SensorDevice::ApplyReserved},
  };
  for (const auto& [bit, hook] : kApplyOrder) {
    if ((pending & bit) == 0) continue;
    // Each bit is taken just before its hook reads the setting (the deferred
    // hooks take theirs with the request's fields). A setter or request that
    // comes later raises the bit again and is sent on the next pass; clearing
    // the whole word afterwards would lose it.
    if (bit != kPendingDeferredRead && bit != kPendingDeferredWrite) {
      std::lock_guard<std::mutex> lock(mutex_);
      pendingChanges_ &= ~bit;
    }
    if ((this->*hook)() >= 0) PauseAfterExchange();
  }

  if (restart) StartStream(true);
  uint64_t applied = settingsApplied_.load();
  while (applied < requested && !settingsApplied_.compare_exchange_weak(applied, requested)) {
  }
  return true;
}

uint64_t SensorDevice::SettingsRequested() const { return settingsRequested_.load(); }
uint64_t SensorDevice::SettingsApplied() const { return settingsApplied_.load(); }

int32_t SensorDevice::PrepareStart() { return 0; }

bool SensorDevice::AttachEngine(SensorEngine* engine) {
  if (engine == nullptr) return false;
  engine_.store(engine);

  const StreamSize stream = CurrentStreamSize();
  int bytes = stream.width * stream.height;
  if (!engine->IsEightBitRaw()) bytes *= 2;
  frameSectors_ = bytes / 512;
  framePad_ = 0;
  if (bytes % 512 != 0) {
    frameSectors_ += 1;
    framePad_ = 512 - bytes % 512;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingChanges_ = kPendingAllSettings;
  }

  // A camera volume that cannot be opened would leave the reader retrying a
  // dead handle for ever; the start fails here instead.
  if (!OpenVolume()) return false;

  StartStream(false);
  ApplyPendingChanges();
  if (PrepareStart() != 0) return false;
  StartStream(true);
  return true;
}

void SensorDevice::StartStream(bool run) {
  const StreamSize stream = CurrentStreamSize();
  SendStreamStart(run, stream.width, stream.height, 0, 0);
}

// The protocol refuses addresses beyond each form's width; negative ones are
// refused here before they could be taken for large unsigned addresses.
bool SensorDevice::ReadRegister(int address, uint8_t* high, uint8_t* low) {
  if (address < 0) return false;
  if (registerAddressLimit_ != kWideAddressLimit) {
    return protocol_.ReadRegister(static_cast<uint32_t>(address), high, low);
  }
  // A head with 10-bit register addresses is read in the wide form, which
  // carries the address's top bits; the 16-bit read delivers the value's low
  // 16 bits, when and as the 8-bit form delivers bytes 40 and 41.
  RegisterResult result = RegisterResult::kNoAnswer;
  uint32_t value = 0;
  const bool ok = protocol_.ReadRegisterWide(static_cast<uint32_t>(address), &value, &result);
  if (result == RegisterResult::kDone || result == RegisterResult::kExhausted) {
    if (low != nullptr) *low = static_cast<uint8_t>(value & 0xFF);
    if (high != nullptr) *high = static_cast<uint8_t>((value >> 8) & 0xFF);
  }
  return ok;
}

bool SensorDevice::WriteRegister(int address, uint8_t high, uint8_t low) {
  if (address < 0) return false;
  // A head with 10-bit register addresses takes every register command as a
  // wide one, value bits 16 and up from byte 50 included: the wide form
  // reaches the address's top bits and sends those value bits as 0, where
  // the 8-bit form would carry over whatever an earlier wide read left there.
  if (registerAddressLimit_ == kWideAddressLimit)
    return WriteRegisterWide(address, high << 8 | low);
  return protocol_.WriteRegister(static_cast<uint32_t>(address), high, low);
}

bool SensorDevice::WriteRegisterWide(int address, int value) {
  if (address < 0 || value < 0 || value > wideValueLimit_) return false;
  return protocol_.WriteRegisterWide(static_cast<uint32_t>(address), static_cast<uint32_t>(value));
}

bool SensorDevice::ReadRegisterWide(int address, int* value) {
  if (address < 0) return false;
  uint32_t read = 0;
  const bool ok = protocol_.ReadRegisterWide(static_cast<uint32_t>(address), &read);
  if (ok && value != nullptr) *value = static_cast<int>(read);
  return ok;
}

int SensorDevice::FrameBufferSize() {
  // What one frame transfer brings: the stream's samples at the width the
  // camera sends them (one byte, or two), padded to whole sectors. Sized for
  // two bytes whatever the transfer, the buffers of an 8-bit stream would
  // take twice the address space a 32-bit process can spare.
  SensorEngine* engine = engine_.load();
  const StreamSize stream = CurrentStreamSize();
  const int bytesPerSample = engine != nullptr && !engine->IsEightBitRaw() ? 2 : 1;
  return framePad_ + stream.width * stream.height * bytesPerSample;
}

int32_t SensorDevice::ApplyGain() { return 0; }
int32_t SensorDevice::ApplyExposure() { return 0; }
int32_t SensorDevice::ApplyMirrorH() { return 0; }
int32_t SensorDevice::ApplyMirrorV() { return 0; }
int32_t SensorDevice::ApplyWindow() { return 0; }
int32_t SensorDevice::ApplySubsample() { return 0; }
int32_t SensorDevice::ApplyTriggerOption() { return 0; }
int32_t SensorDevice::ApplyReserved() { return 0; }

int32_t SensorDevice::ApplyDeferredRead() {
  RegisterResultRecord record;
  {
    // Held across the transfer so that a new request cannot change the
    // deferred fields while the camera answers this one, and so that the
    // read's caller either withdraws it first or finds its answer.
    std::lock_guard<std::mutex> lock(mutex_);
    if ((pendingChanges_ & kPendingDeferredRead) == 0) return 0;  // withdrawn meanwhile
    pendingChanges_ &= ~kPendingDeferredRead;
    uint8_t high = 0;
    uint8_t low = 0;
    const bool ok = ReadRegister(deferredReadAddress_, &high, &low);
    record = RegisterResultRecord{ok ? 1 : 0, deferredReadAddress_, high, low};
    deferredReadOutcome_ = record;
    deferredReadAnswered_ = true;
  }
  if (SensorOwner* owner = owner_.load()) {
    owner->ReportRegisterResult(kEventRegisterReadDone, record);
  }
  return 0;
}

bool SensorDevice::PerformDeferredWrites() {
  size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = deferredWrites_.size();
  }
  // Only the writes queued at entry: a listener that answers each report with
  // a new request cannot keep this pass going for ever.
  for (size_t i = 0; i < count; ++i) {
    RegisterResultRecord record;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (deferredWrites_.empty()) break;
      const DeferredWrite write = deferredWrites_.front();
      deferredWrites_.pop_front();
      const bool ok = write.wide ? WriteRegisterWide(write.address, write.wideValue)
                                 : WriteRegister(write.address, write.high, write.low);
      record = RegisterResultRecord{ok ? 1 : 0, write.address, write.high, write.low};
    }
    if (SensorOwner* owner = owner_.load()) {
      owner->ReportRegisterResult(kEventRegisterWriteDone, record);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (deferredWrites_.empty()) {
    pendingChanges_ &= ~kPendingDeferredWrite;
    return false;
  }
  return true;
}

int32_t SensorDevice::ApplyDeferredWrite() {
  PerformDeferredWrites();
  return 0;
}

uint32_t SensorDevice::GetPendingChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  return pendingChanges_;
}

WindowRect SensorDevice::GetStoredCaptureWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return captureWindow_;
}

WindowRect SensorDevice::GetRegisterWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return registerWindow_;
}

void SensorDevice::SendStop() {
  protocol_.Stop();
  runningForTriggers_.store(false);
}

bool SensorDevice::RunningForTriggers() const { return runningForTriggers_.load(); }

void SensorDevice::SendStreamStart(bool run, int width, int height, int originX, int originY) {
  StreamSettings settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings.run = run;
    settings.width = static_cast<uint16_t>(width);
    settings.height = static_cast<uint16_t>(height);
    settings.originX = static_cast<uint16_t>(originX);
    settings.originY = static_cast<uint16_t>(originY);
    settings.eightBitTransfer = eightBitTransfer_ == 1;
    settings.triggerMode = triggerMode_ != 0;
    settings.bitDepthCode = bitDepthCode_;
    settings.syncV = syncV_ != 0;
    settings.syncH = syncH_ != 0;
  }
  protocol_.StartStream(settings);
  runningForTriggers_.store(settings.run && settings.triggerMode);
}

bool SensorDevice::OpenVolume() {
  CloseVolume();
  const char letter = NormalizeDriveLetter(GetDriveLetter());
  // The camera is claimed before anything is sent to it: a camera another
  // user streams from must not be stopped and reprogrammed under it.
  claim_ = letter != 0 ? ClaimCamera(letter) : nullptr;
  cameraInUse_ = letter != 0 && !claim_;
  if (cameraInUse_) return false;
  volume_ = std::shared_ptr<RawVolume>(OpenRawVolume(GetDriveLetter()));
  protocol_.SetVolume(volume_.get());
  if (!volume_) claim_.reset();
  return volume_ != nullptr;
}

void SensorDevice::CloseVolume() {
  protocol_.SetVolume(nullptr);
  volume_.reset();
  claim_.reset();
  runningForTriggers_.store(false);
}

StreamSize SensorDevice::CurrentStreamSize() {
  SensorEngine* engine = engine_.load();
  if (engine == nullptr) return StreamSize{};
  return AlignedStreamSize(engine->GetWidth(), engine->GetHeight(), engine->IsEightBitRaw());
}

void SensorDevice::PauseAfterExchange() { CurrentClock().Sleep(kSettingsPauseMs); }

void SensorDevice::StoreWindows(const WindowRect& capture, const WindowRect& registers) {
  std::lock_guard<std::mutex> lock(mutex_);
  captureWindow_ = capture;
  registerWindow_ = registers;
}

void SensorDevice::StoreCaptureWindow(const WindowRect& capture) {
  std::lock_guard<std::mutex> lock(mutex_);
  captureWindow_ = capture;
}

void SensorDevice::StoreGlobalGain(int gain) {
  std::lock_guard<std::mutex> lock(mutex_);
  globalGain_ = gain;
}

void SensorDevice::StoreExposureTime(int exposure) {
  std::lock_guard<std::mutex> lock(mutex_);
  exposureTime_ = exposure;
}

void SensorDevice::FlipBayerPhase(bool horizontal) {
  // Mirroring the read-out horizontally swaps phases 0<->2 and 1<->3;
  // vertically it swaps 0<->1 and 2<->3.
  auto flip = [horizontal](int phase) { return horizontal ? phase ^ 2 : phase ^ 1; };
  // The engine's phase is read before the device lock is taken: the two
  // locks are never held together.
  SensorEngine* engine = engine_.load();
  const int enginePhase = engine != nullptr ? engine->GetBayerPhase() : 0;
  int phase = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bayerPhase_ = flip(engine != nullptr ? enginePhase : bayerPhase_);
    phase = bayerPhase_;
  }
  if (engine != nullptr) engine->SetBayerPhase(phase);
}

void SensorDevice::StoreEightBitTransfer(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  eightBitTransfer_ = value;
}

void SensorDevice::StoreOneByteOutput(uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  oneByteOutput_ = value;
}

}  // namespace varnel
