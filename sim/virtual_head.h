// The virtual camera head: a device model of the camera's side of the sector
// protocol, used in place of a real head by the tests, by varnelcam and by the
// FUSE daemon.
//
// It is a volume whose control sector reacts to what the host writes, exactly
// as the library expects a camera to: register commands answered through the
// status byte, run/stop with the stream geometry, the frame-ready byte in
// trigger mode. Behind it sits a register file per model whose registers have
// the effects the library relies on (gain and exposure change brightness,
// mirror bits flip the read-out, window and sub-sample registers change what is
// read out, trigger bits select triggered frames), and a renderer that makes
// frames on demand from a synthetic scene in the model's read-out order.
//
// Thread safety: every member may be called from any thread at any time; the
// host's reader thread and its application thread use one head concurrently.
// Frame reads copy from an immutable rendered frame outside the head's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "device/model_code.h"
#include "platform/clock.h"
#include "platform/raw_volume.h"

namespace varnel {

// How the head decoded a register command.
enum class RegisterForm : uint8_t {
  kAddress8,   // 8-bit address, 16-bit data
  kAddress16,  // 16-bit address (low byte 36, high byte 80), 16-bit data
  kWide,       // 10-bit address (36, 37), data with bits 16 and up in byte 50
};

// One register exchange as the head saw it. For a write, `value` is what the
// command carried (as the model keeps it); for a read, what the head answered.
// `accepted` is false when a fault switch kept the command from being carried
// out (the status then told the host so, or never finished).
struct RegisterExchange {
  bool write = false;
  RegisterForm form = RegisterForm::kAddress8;
  uint32_t address = 0;
  uint32_t value = 0;
  bool accepted = true;

  bool operator==(const RegisterExchange&) const = default;
};

// One run or stop command, with the whole control sector as written.
struct RunExchange {
  bool run = false;
  uint8_t sector[512] = {};
};

// The stream state the head is working with, decoded from the last run
// command and the register file.
struct HeadStream {
  bool running = false;
  bool triggerMode = false;      // the host asked for triggered frames and the sensor agrees
  uint32_t streamWidth = 0;      // as sent in bytes 64/66
  uint32_t streamHeight = 0;     // as sent in bytes 68/70
  uint32_t rowBytes = 0;         // bytes of one frame row on the wire
  uint32_t frameBytes = 0;       // rowBytes × streamHeight
  uint32_t bytesPerSample = 1;   // 1 or 2
  uint32_t significantBits = 8;  // 8..16
  uint32_t windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;  // on the sensor
  uint32_t subsampleX = 1, subsampleY = 1;                               // read-out step
  bool mirrorH = false, mirrorV = false;
  uint32_t brightnessPermille = 1000;  // gain × exposure relative to the model's reference
  uint8_t syncBits = 0;                // byte 98 as sent (recorded only)
};

// What the head renders.
enum class SceneKind : uint8_t {
  kBarsAndGradient,  // colour bars over the top half, a gray ramp below
  kFlatColor,        // one colour over the whole sensor (flatColor below)
  kFlatGray,         // one level over the whole sensor (flatLevel below)
};

struct SceneOptions {
  SceneKind kind = SceneKind::kBarsAndGradient;
  bool movingMark = true;        // a bright square that moves with the frame number
  bool stampFrameNumber = true;  // the frame number in the picture's top-left corner
  // Levels on a 16-bit scale before gain and exposure (kFlatColor: red,
  // green, blue; kFlatGray: flatLevel).
  uint16_t flatColor[3] = {0xC000, 0x8000, 0x4000};
  uint16_t flatLevel = 0x8000;
};

// Fault injection switches. Each describes a misbehaving camera.
struct HeadFaults {
  bool statusStuckBusy = false;     // commands never finish; status shows the busy bit
  bool statusZero = false;          // the status byte always reads 0; commands are not carried out
  bool otherDirectionOnly = false;  // status shows only the other direction's done bit
  std::set<uint32_t> refusedRegisters;  // commands on these addresses: status 0, not carried out
  uint32_t busyPolls = 0;               // status reads that show busy before a command finishes
  uint32_t answerDelayMs = 0;           // a command finishes only this long after it was written
  uint32_t transferDelayMs = 0;         // every transfer of the volume takes this long
  // After this many more transfers every transfer fails (a head that stops
  // answering mid-exchange); negative = never.
  int64_t failAfterTransfers = -1;
  uint32_t shortFrameReads = 0;   // the next n frame reads deliver half the frame
  uint32_t failedFrameReads = 0;  // the next n frame reads fail
};

struct HeadOptions {
  bool monochrome = false;  // a monochrome sensor instead of a Bayer mosaic
  // Colour filter phase (0..3, numbered as the host's BayerPhase) in the
  // sensor's read-out order: the colours of the first samples an unmirrored
  // read-out from an even origin sends; -1 = the model's own
  // (docs/virtual-head.md lists them).
  int bayerPhase = -1;
  // Frame pacing: a fixed rate when framesPerSecond > 0, otherwise the pixel
  // clock over the streamed samples plus blanking.
  double framesPerSecond = 0.0;
  uint32_t pixelClockHz = 48'000'000;
  // The clock that paces frames and delays; null = the system's steady clock,
  // kept in microseconds so that any frame rate is paced exactly. Tests give
  // a clock whose Sleep advances time at once (it counts whole milliseconds).
  Clock* clock = nullptr;
};

// One triggered frame as the head saw it. Times are wall-clock microseconds
// since 1970: the one clock every process on the machine reads alike, Windows
// programs under Wine included, so a program can compare them with its own.
struct TriggeredFrame {
  uint32_t number = 0;  // the frame number stamped into the picture
  int64_t firedUs = 0;  // the trigger pulse (also stamped into the picture)
  int64_t readyUs = 0;  // read out into its area; byte 44 can name it from then on
  int64_t readUs = 0;   // the host began to read it; 0 while it has not
};

// What became of the pulses on the head's trigger input.
struct TriggerCounters {
  uint64_t fired = 0;  // pulses: Trigger() calls and the steady-rate generator's
  uint64_t taken = 0;  // pulses that started a frame
  // Pulses while the head was not waiting for triggers: not running in
  // trigger mode, or with every trigger source masked off.
  uint64_t ignored = 0;
  uint64_t overrun = 0;  // pulses while both areas held frames the host had not read
  uint64_t cleared = 0;  // triggered frames a run or stop command threw away unread
  uint64_t read = 0;     // triggered frames the host read
};

// Where the head's stamps are in a picture: the frame number in the cells
// of the top eight rows, the trigger time (the low 32 bits of
// TriggeredFrame::firedUs; triggered frames only) in the eight rows below.
enum class StampRow : uint32_t { kFrameNumber = 0, kTriggerTime = 8 };

// Transfer counters, for tests that count exchanges.
struct HeadCounters {
  uint64_t controlReads = 0;
  uint64_t controlWrites = 0;
  uint64_t frameReads = 0;
  uint64_t otherTransfers = 0;
  uint64_t framesRendered = 0;
  uint64_t runCommands = 0;  // run and stop commands
  // Transfers that have begun the wait of HeadFaults::transferDelayMs, so a
  // test can tell when a transfer is under way and hangs.
  uint64_t delayedTransfers = 0;
};

class VirtualHead : public BlockDevice, public std::enable_shared_from_this<VirtualHead> {
 public:
  explicit VirtualHead(ModelCode model, const HeadOptions& options = HeadOptions{});
  ~VirtualHead() override;

  VirtualHead(const VirtualHead&) = delete;
  VirtualHead& operator=(const VirtualHead&) = delete;

  ModelCode model() const { return model_; }
  uint32_t sensorWidth() const;
  uint32_t sensorHeight() const;
  // Size of the volume in bytes (reads beyond it are short, like a file's).
  uint64_t volumeSize() const;

  // BlockDevice: the camera volume.
  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override;
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override;

  // In-process front end: attach this head to a drive letter of the in-process
  // device table (the head must be owned by a shared_ptr). False when the
  // letter is outside A..Z or taken.
  bool AttachTo(char16_t letter);
  void Detach();
  // Removal: the drive disappears from the table and every transfer fails.
  void Remove();
  bool removed() const;

  // Register file. Addresses are 10-bit (16-bit on the model with 16-bit
  // register addresses); values up to 24 bits. Peek and poke bypass the log.
  uint32_t PeekRegister(uint32_t address) const;
  void PokeRegister(uint32_t address, uint32_t value);

  // Register exchanges in order, and run/stop commands in order.
  std::vector<RegisterExchange> RegisterLog() const;
  std::vector<RunExchange> RunLog() const;
  void ClearLogs();

  // The control sector as the host would read it now.
  void ControlSector(uint8_t* sector) const;

  HeadStream Stream() const;
  HeadCounters Counters() const;

  // Rendering controls.
  void SetScene(const SceneOptions& scene);
  SceneOptions Scene() const;
  void SetFrameRate(double framesPerSecond);  // 0 = from the pixel clock
  void SetPixelClock(uint32_t hz);
  // Number of the frame most recently delivered by a frame read (0 = none).
  uint32_t LastDeliveredFrame() const;

  // Software trigger: one pulse on the trigger input, now. When the head
  // waits for triggers and the next area (A first, then alternately) is free,
  // the sensor exposes one frame and reads it out into that area, which takes
  // the read-out time of one frame at the head's rate (after any frame still
  // being read out). Byte 44 names the area of the oldest frame the host has
  // not read, once that frame is read out; reading the area frees it. True
  // when the pulse started a frame; false when the head was not waiting for
  // triggers, or both areas held frames the host had not read.
  bool Trigger();
  // The steady-rate trigger of a production line: `count` pulses (0: until
  // StopTriggers), the first now and then one every 1/hz seconds on the
  // head's clock, whether or not the host has read the last frame.
  void StartTriggers(double hz, uint64_t count = 0);
  void StopTriggers();
  // Whether the steady-rate trigger still has pulses to fire.
  bool TriggersRunning() const;
  TriggerCounters TriggerStats() const;
  // The triggered frames, oldest first (the latest 65536 of them).
  std::vector<TriggeredFrame> TriggeredFrames() const;
  // Read-out time of one frame of the current stream at the head's rate, in
  // microseconds: the time from a trigger to its frame being ready.
  double ReadoutUs() const;
  // The host that started the head has gone: the head stops as a stop
  // command would stop it (and so leaves trigger mode).
  void StopRun();

  // Fault injection.
  void SetFaults(const HeadFaults& faults);
  HeadFaults Faults() const;

  // Reads a stamp of a picture whose top-left corner is the stamp's (the
  // picture as the host sees it after its intake: top row first).
  // `bytesPerSample` 2 accepts either byte order. Empty when no valid stamp.
  static std::optional<uint32_t> ReadStamp(const uint8_t* picture, uint32_t width, uint32_t height,
                                           size_t rowPitch, uint32_t bytesPerSample,
                                           StampRow row = StampRow::kFrameNumber);
  // Reads the frame number from a frame exactly as a frame read delivered it,
  // undoing the model's read-out order with the head's current stream state.
  // With `eitherMirrorH` a frame read before the horizontal mirror last
  // changed is read too: its stamp is where the other order puts it, and a
  // frame that reads in both orders with different numbers reads as none.
  std::optional<uint32_t> ReadFrameNumber(const void* frame, size_t size,
                                          bool eitherMirrorH = false) const;

  // Byte offsets of the three places of the volume.
  static uint64_t ControlOffset();
  static uint64_t AreaAOffset();
  static uint64_t AreaBOffset();

 private:
  struct Impl;
  const ModelCode model_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
