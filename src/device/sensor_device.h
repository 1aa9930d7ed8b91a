// The host-side model of one camera head.
//
// A SensorDevice holds every acquisition setting, owns the camera volume while
// its driver runs, and turns setting changes into register traffic through the
// control sector. Settings reach the camera in three ways: stream settings go
// out with each stream start, sensor settings are marked in PendingChanges and
// written by the model's register hooks at the next opportunity, and image
// settings are handed straight to the attached colour engine.
//
// The virtual operations are declared in the order of the operation table that
// every camera model shares; a model overrides a few of them (see the
// <model>_sensor.h files).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <atomic>
#include <deque>

#include "device/sector_protocol.h"
#include "device/sensor_owner.h"
#include "platform/camera_claim.h"
#include "platform/raw_volume.h"

namespace varnel {

class SensorEngine;
class SensorOwner;

// Result of an apply hook that could not complete its register exchange.
inline constexpr int32_t kHookFailed = static_cast<int32_t>(0x80004005u);

// Bits of PendingChanges.
inline constexpr uint32_t kPendingGain = 0x001;
inline constexpr uint32_t kPendingExposure = 0x002;
inline constexpr uint32_t kPendingMirrorV = 0x004;
inline constexpr uint32_t kPendingMirrorH = 0x008;
inline constexpr uint32_t kPendingWindow = 0x010;
inline constexpr uint32_t kPendingSubsample = 0x020;
inline constexpr uint32_t kPendingTriggerOption = 0x040;
inline constexpr uint32_t kPendingReserved = 0x100;
inline constexpr uint32_t kPendingDeferredRead = 0x10000000;
inline constexpr uint32_t kPendingDeferredWrite = 0x20000000;
// Every sensor setting: raised by AttachEngine so that each start sends them all.
inline constexpr uint32_t kPendingAllSettings = 0x17F;

struct WindowRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ValueRange {
  int minimum = 0;
  int maximum = 0;
};

// The stream size sent to the camera for a capture size: width and height
// rounded up to a multiple of 8 for one-byte samples, of 4 for two-byte ones.
struct StreamSize {
  int width = 0;
  int height = 0;
};
StreamSize AlignedStreamSize(int width, int height, bool oneByteSamples);

class SensorDevice {
 public:
  SensorDevice();
  SensorDevice(const SensorDevice&) = delete;
  SensorDevice& operator=(const SensorDevice&) = delete;

  // ---- Operation table -------------------------------------------------
  virtual void CloseDevice();
  virtual bool SetDriveLetter(char16_t letter);
  virtual char16_t GetDriveLetter();
  virtual bool SetOutputBitCount(int bits);
  virtual int GetOutputBitCount();
  virtual void GetCaptureWindow(int* x, int* y, int* width, int* height);
  virtual bool SetCaptureWindow(int x, int y, int width, int height);
  virtual bool SetBayerPhase(int phase);
  virtual int GetBayerPhase();
  virtual bool SetEightBitTransfer(int value);
  virtual int GetEightBitTransfer();
  virtual bool SetBitDepthCode(int code);
  virtual int GetBitDepthCode();
  virtual bool ReservedSetterA(int value);
  virtual uint8_t GetOneByteOutput();
  virtual bool SetColorFlag(uint8_t color);
  virtual uint8_t GetColorFlag();
  virtual bool SetEngineValue(int value);
  virtual int GetEngineValue();
  virtual bool SetPair(uint8_t flag, uint8_t level);
  virtual uint8_t GetPair(uint8_t* flag, uint8_t* level);
  virtual bool SetChannelGain1(int gain);
  virtual ValueRange ChannelGain1Range();
  virtual int GetChannelGain1();
  virtual bool SetChannelGain2(int gain);
  virtual ValueRange ChannelGain2Range();
  virtual int GetChannelGain2();
  virtual bool SetChannelGain3(int gain);
  virtual ValueRange ChannelGain3Range();
  virtual int GetChannelGain3();
  virtual uint8_t GetSyncV();
  virtual bool SetSyncV(uint8_t value);
  virtual uint8_t GetSyncH();
  virtual bool SetSyncH(uint8_t value);
  virtual bool SetGlobalGain(int gain);
  virtual ValueRange GlobalGainRange();
  virtual int GetGlobalGain();
  virtual bool SetExposureTime(int exposure);
  virtual ValueRange ExposureRange();
  virtual int GetExposureTime();
  virtual bool SetMirrorV(uint8_t mirror);
  virtual uint8_t GetMirrorV();
  virtual bool SetMirrorH(uint8_t mirror);
  virtual uint8_t GetMirrorH();
  virtual int GetVerticalSubsample();
  virtual bool SetVerticalSubsample(int value);
  virtual int GetHorizontalSubsample();
  virtual bool SetHorizontalSubsample(int value);
  virtual uint8_t GetTriggerMode();
  virtual bool SetTriggerMode(uint8_t mode);
  virtual uint8_t GetTriggerOption();
  virtual bool SetTriggerOption(uint8_t option);
  virtual bool ReservedSetterB(int value);
  virtual bool ReservedThreeArguments(int a, int b, int c);
  virtual bool ReservedTwoArgumentsA(int a, int b);
  // Register access on behalf of the application. While the owner streams the
  // request is deferred to the reader thread and reported to the owner's
  // listeners (events 2 and 3); the call then returns true at once (a write
  // only while the queue of deferred writes has room).
  virtual bool RequestReadRegister(int address, uint8_t* high, uint8_t* low);
  virtual bool RequestWriteRegister(int address, uint8_t high, uint8_t low);
  virtual bool ReservedTwoArgumentsB(int a, int b);
  virtual bool RequestWriteRegisterWide(int address, int value);
  virtual void GetMaxSize(int* width, int* height) = 0;
  virtual int FrameByteCount();
  virtual int GetRegisterWindowWidth();
  virtual int GetRegisterWindowHeight();
  virtual bool SetAdjustment1(int value);
  virtual int GetAdjustment1();
  virtual bool SetAdjustment2(int value);
  virtual int GetAdjustment2();
  virtual bool SetAdjustment3(int value);
  virtual int GetAdjustment3();
  virtual bool SetHue(int degrees);
  virtual int GetHue();
  virtual int SetFrameTimeout(int milliseconds);
  virtual int GetFrameTimeout();
  virtual ~SensorDevice();
  virtual bool ApplyPendingChanges();
  // Counts of the setting changes that alter the picture (gain, exposure,
  // mirrors, sub-sampling, trigger option to another value; register
  // writes): asked for, and sent to the camera by ApplyPendingChanges. A
  // value set again is sent again but counts as no change. A frame exposed after the
  // camera had SettingsApplied() == n shows every change up to n.
  uint64_t SettingsRequested() const;
  uint64_t SettingsApplied() const;
  virtual int32_t PrepareStart();
  virtual bool AttachEngine(SensorEngine* engine);
  virtual void StartStream(bool run);
  virtual bool ReadRegister(int address, uint8_t* high, uint8_t* low);
  virtual bool WriteRegister(int address, uint8_t high, uint8_t low);
  virtual bool WriteRegisterWide(int address, int value);
  virtual bool ReadRegisterWide(int address, int* value);
  // The bytes of one frame transfer (FrameSectors x 512): what each frame
  // buffer of the driver holds.
  virtual int FrameBufferSize();
  virtual int32_t ApplyGain();
  virtual int32_t ApplyExposure();
  virtual int32_t ApplyMirrorH();
  virtual int32_t ApplyMirrorV();
  virtual int32_t ApplyWindow();
  virtual int32_t ApplySubsample();
  virtual int32_t ApplyTriggerOption();
  virtual int32_t ApplyReserved();
  virtual int32_t ApplyDeferredRead();
  virtual int32_t ApplyDeferredWrite();

  // ---- Plain accessors (not part of the operation table) ----------------
  // The driver that embeds this device; not owned.
  void SetOwner(SensorOwner* owner) { owner_.store(owner); }
  SensorOwner* GetOwner() const { return owner_.load(); }
  SensorEngine* GetEngine() const { return engine_.load(); }
  uint32_t GetPendingChanges();
  // For the caller of a deferred read, once it has waited for the answer:
  // true with the read's record (result 1 only when the camera confirmed it)
  // when the reader performed it; false when it has not been performed, in
  // which case it is withdrawn and never will be. Either way it is taken.
  bool TakeDeferredRead(RegisterResultRecord* record);
  const SectorMap& GetSectorMap() const { return protocol_.map(); }
  int GetFrameSectors() const { return frameSectors_; }
  int GetFramePad() const { return framePad_; }
  // The open camera volume while attached; null otherwise. The reader thread
  // reads frames through it.
  RawVolume* GetVolume() const { return volume_.get(); }
  // The same volume, shared: a reader that may outlive CloseDevice (a transfer
  // that never returns) keeps it alive until it lets go.
  std::shared_ptr<RawVolume> SharedVolume() const { return volume_; }
  bool IsVolumeOpen() const { return volume_ != nullptr; }
  // True when the last attempt to open the camera volume was refused because
  // another user (another program, or another handle of this one) has the
  // camera open.
  bool CameraInUse() const { return cameraInUse_; }
  // Whether the last command sent started the camera in trigger mode (and
  // no stop came after it).
  bool RunningForTriggers() const;
  WindowRect GetStoredCaptureWindow();
  WindowRect GetRegisterWindow();
  // Largest address RequestReadRegister and RequestWriteRegister take on this
  // model; a larger one is refused, never cut to fit.
  int RegisterAddressLimit() const { return registerAddressLimit_; }

 protected:
  // Largest register address the 16-bit-value transfers accept: 255, 65535
  // for the model with 16-bit register addresses, 1023 for the models with
  // 10-bit (wide) ones, which these transfers then reach in the wide form.
  void SetRegisterAddressLimit(int limit) { registerAddressLimit_ = limit; }
  // Largest value the wide registers take: 22 bits on most models, 24 on the
  // model that keeps the whole top byte.
  void SetWideValueLimit(int limit) { wideValueLimit_ = limit; }
  int WideValueLimit() const { return wideValueLimit_; }

  // Sends the stop command (read-modify-write of the run byte).
  void SendStop();
  // Builds the control-sector content of a stream start and sends it. Models
  // that send their origin or a different width adjust `origin` / `width`.
  void SendStreamStart(bool run, int width, int height, int originX, int originY);
  // The stream size for the attached engine (0 x 0 when none is attached).
  StreamSize CurrentStreamSize();
  // The control-sector exchanges on the volume this device holds (a null
  // volume makes every exchange fail).
  SectorProtocol& Protocol() { return protocol_; }
  // One pause after a register exchange of the settings code.
  static void PauseAfterExchange();

  // Stores both windows at once, or the capture window alone.
  void StoreWindows(const WindowRect& capture, const WindowRect& registers);
  void StoreCaptureWindow(const WindowRect& capture);
  // Settings the model hooks clamp and store back.
  void StoreGlobalGain(int gain);
  void StoreExposureTime(int exposure);
  // Changes the Bayer phase of the engine (and the phase this device hands
  // to the next engine) after the camera has mirrored its read-out.
  void FlipBayerPhase(bool horizontal);
  // ---- Register routines shared by several models ----
  // Each register exchange of the settings code is followed by an 8 ms pause
  // (the Exchange* forms pause; `pause` false for the few that do not).
  // `value` of an 8-bit-address register: high byte = bits 8-15, low = 0-7.
  bool ExchangeWrite(int address, int value, bool pause = true);
  bool ExchangeRead(int address, uint8_t* high, uint8_t* low);
  bool ExchangeWriteWide(int address, int value, bool pause = true);
  bool ExchangeReadWide(int address, int* value);
  // Window variant C: even origin clamped into the sensor, extent at least 3,
  // odd register extent. `storeWhenTooSmall` keeps a too-small request as the
  // capture window before refusing it (the behaviour one model has).
  bool SetWindowClamped(int x, int y, int width, int height, int maxWidth, int maxHeight,
                        bool storeWhenTooSmall);
  // Window variant X: the whole sensor, whatever was asked.
  void SetWindowFull(int maxWidth, int maxHeight);
  // Window variant F: the capture window as stored, not shrunk by subsampling.
  void GetCaptureWindowUnscaled(int* x, int* y, int* width, int* height);
  // Gain G1: reg 175 = 0, reg 53 = gain (one byte).
  int32_t ApplyGainByteRegister();
  // Gain G2: wide reg 6 = gain bits 0-5, wide reg 7 = bits 6-9.
  int32_t ApplyGainWidePair();
  // Exposure E1-E3: reads of reg 8 and 9, reg 175 = 0, then `exposureRegister`.
  int32_t ApplyExposureRegister(int exposureRegister);
  // Exposure E5: clamped to the model's exposure range, wide reg 158 = bits
  // 0-5, 159 = bits 6-11.
  int32_t ApplyExposureWidePair();
  // Mirror M2: bit 0x40 (horizontal) or 0x80 (vertical) of reg 32's high byte.
  int32_t ApplyMirrorHighByte(bool horizontal);
  // Window W2/W3: reg 1 = y + yOffset, reg 2 = x + xOffset, reg 3 = height,
  // reg 4 = width, reg 5 and reg 6 = the model's blanking values.
  int32_t ApplyWindowWithOffsets(int yOffset, int xOffset, int reg5, int reg6);
  // Subsample S2: regs 34 and 35 carry the vertical and horizontal values.
  int32_t ApplySubsamplePair();

  // Forces a value the model keeps fixed.
  void StoreEightBitTransfer(int value);
  void StoreOneByteOutput(uint8_t value);

  std::mutex mutex_;

 private:
  // Performs a register request now (the stream is not running): opens the
  // volume when none is held, sends stop, runs `transfer`, closes again.
  template <typename Transfer>
  bool RunRequestNow(Transfer transfer);

  std::atomic<SensorOwner*> owner_{nullptr};
  std::atomic<SensorEngine*> engine_{nullptr};
  std::atomic<bool> runningForTriggers_{false};
  // Opens the volume of the current drive letter (replacing any held one).
  bool OpenVolume();
  void CloseVolume();

  std::shared_ptr<RawVolume> volume_;
  // This device's claim on its drive while the volume is open (one camera,
  // one user; see platform/camera_claim.h).
  std::unique_ptr<CameraClaim> claim_;
  bool cameraInUse_ = false;
  SectorProtocol protocol_;
  int frameSectors_ = 0;
  int framePad_ = 0;
  int registerAddressLimit_ = 255;
  int wideValueLimit_ = (1 << 22) - 1;

  // Settings. Guarded by mutex_: the reader thread reads them while the
  // application thread changes them.
  char16_t driveLetter_ = u'D';
  uint8_t colorFlag_ = 1;
  int engineValue_ = 0;
  uint8_t pairFlag_ = 0;
  uint8_t syncV_ = 1;
  uint8_t syncH_ = 1;
  uint8_t mirrorV_ = 0;
  uint8_t mirrorH_ = 0;
  uint8_t triggerMode_ = 0;
  uint8_t triggerOption_ = 0;
  uint8_t oneByteOutput_ = 0;
  int bayerPhase_ = 0;
  int eightBitTransfer_ = 1;
  int bitDepthCode_ = 0;
  WindowRect captureWindow_{0, 0, 800, 600};
  WindowRect registerWindow_{0, 0, 800, 600};
  int channelGain_[3] = {128, 128, 128};
  int globalGain_ = 100;
  int exposureTime_ = 100;
  int verticalSubsample_ = 0;
  int horizontalSubsample_ = 0;
  int outputBitCount_ = 32;
  int adjustment1_ = 0;
  int adjustment2_ = 0;
  int adjustment3_ = 0;
  int hue_ = 0;
  uint8_t pairLevel_ = 255;
  int frameTimeout_ = 6000;

  uint32_t pendingChanges_ = 0;

  // Register requests made while the owner streams. A read has one caller
  // waiting for its answer (TakeDeferredRead), so one read is kept: a new one
  // replaces a read whose caller gave up. Writes keep their own addresses
  // and data and are queued in order, so that neither a read nor a later
  // write can redirect or drop one that was accepted.
  struct DeferredWrite {
    int address = 0;
    uint8_t high = 0;
    uint8_t low = 0;
    bool wide = false;
    int wideValue = 0;
  };
  // Registers with a write waiting for the next gap between frames, at most.
  static constexpr size_t kMaxDeferredWrites = 64;
  // Queues a write (replacing one waiting for the same register); false when
  // the queue is full.
  bool QueueDeferredWrite(const DeferredWrite& write);
  // Performs up to the writes queued at entry, under the lock, and reports
  // each; true when writes are left for the next pass.
  bool PerformDeferredWrites();
  int deferredReadAddress_ = 0;
  bool deferredReadAnswered_ = false;
  RegisterResultRecord deferredReadOutcome_;
  std::deque<DeferredWrite> deferredWrites_;
  std::atomic<uint64_t> settingsRequested_{0};
  std::atomic<uint64_t> settingsApplied_{0};
};

}  // namespace varnel
