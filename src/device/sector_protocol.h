// The host side of the camera's sector protocol.
//
// A camera head is driven only by reading and writing 512-byte sectors of its
// raw volume: one control sector carries commands, register data and status,
// and two frame areas hold whole frames that are read alternately. This file
// names the sector map and the control-sector layout and implements the
// exchanges on an open RawVolume: stop, StartStream, the register reads and
// writes with their status handshakes, frame reads and the frame-ready poll.
//
// Pauses. Stop and StartStream each end with an 8 ms pause, and the single-shot
// wait pauses 16 ms between polls; these go through CurrentClock() so tests can
// count them. The 8 ms pause that follows every register exchange made by the
// settings code is the caller's (the SensorDevice and its model hooks), not this
// layer's: a register exchange here never sleeps.
//
// Failed volume. Every operation accepts a null volume (an open that failed):
// transfers then fail, register exchanges return false, frame reads deliver 0
// bytes, and the pauses still happen as they would with a camera that does not
// answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/raw_volume.h"

namespace varnel {

inline constexpr uint32_t kSectorSize = 512;

// The three sector numbers of a camera volume; every model uses these values.
struct SectorMap {
  uint32_t controlSector = 5216;
  uint32_t frameAreaA = 5280;
  uint32_t frameAreaB = 38048;

  uint64_t ControlOffset() const { return uint64_t{controlSector} * kSectorSize; }
  uint64_t AreaAOffset() const { return uint64_t{frameAreaA} * kSectorSize; }
  uint64_t AreaBOffset() const { return uint64_t{frameAreaB} * kSectorSize; }
};

// Byte offsets inside the control sector, and the values they carry.
namespace control {
inline constexpr size_t kRegisterCommand = 34;  // 1 write, 2 read
inline constexpr size_t kAddressLow = 36;
inline constexpr size_t kAddressHigh = 37;  // bits 8-9 of a wide address; 0 otherwise
inline constexpr size_t kDataLow = 38;
inline constexpr size_t kDataHigh = 39;
inline constexpr size_t kReadLow = 40;     // camera to host
inline constexpr size_t kReadHigh = 41;    // camera to host
inline constexpr size_t kStatus = 42;      // camera to host, kStatus* bits
inline constexpr size_t kFrameReady = 44;  // camera to host, kFrameReadyA / kFrameReadyB
inline constexpr size_t kRunCommand = 46;  // kRun / kStop
inline constexpr size_t kEightBit = 48;
inline constexpr size_t kWideData = 50;  // bits 16-23 of wide data, both directions
inline constexpr size_t kWideZero = 51;
inline constexpr size_t kWidthLow = 64;
inline constexpr size_t kWidthHigh = 66;
inline constexpr size_t kHeightLow = 68;
inline constexpr size_t kHeightHigh = 70;
inline constexpr size_t kOriginXLow = 72;
inline constexpr size_t kOriginXHigh = 74;
inline constexpr size_t kOriginYLow = 76;
inline constexpr size_t kOriginYHigh = 78;
// In StartStream: the trigger-mode flag. In the register commands of the
// 16-bit-address form: address bits 8-15.
inline constexpr size_t kTrigger = 80;
inline constexpr size_t kAddress16High = 80;
inline constexpr size_t kTriggerZero = 81;
inline constexpr size_t kBitDepth = 96;
inline constexpr size_t kSync = 98;

inline constexpr uint8_t kCommandWrite = 1;
inline constexpr uint8_t kCommandRead = 2;
inline constexpr uint8_t kRun = 1;
inline constexpr uint8_t kStop = 2;

inline constexpr uint8_t kStatusWriteBusy = 0x01;
inline constexpr uint8_t kStatusWriteDone = 0x02;
inline constexpr uint8_t kStatusReadBusy = 0x04;
inline constexpr uint8_t kStatusReadDone = 0x08;

inline constexpr uint8_t kFrameReadyA = 2;
inline constexpr uint8_t kFrameReadyB = 1;

inline constexpr uint8_t kSyncVLow = 0x01;  // set when SyncV is 0
inline constexpr uint8_t kSyncHLow = 0x02;  // set when SyncH is 0
}  // namespace control

// Status polls per register exchange. Every poll spends one unit of this
// budget, including a poll that shows only the other direction's bits, so an
// exchange reads the control sector at most kPollBudget times after its
// command and can never hold the caller for ever.
inline constexpr int kPollBudget = 100;

// Pauses of the protocol, in milliseconds.
inline constexpr uint32_t kCommandPauseMs = 8;     // after run/stop and register exchanges
inline constexpr uint32_t kShortFramePauseMs = 8;  // after a short streamed frame read
inline constexpr uint32_t kDiscardPauseMs = 28;    // after a discarded frame
inline constexpr uint32_t kFrameReadyPollMs = 16;  // between frame-ready polls
inline constexpr uint32_t kDefaultFrameTimeoutMs = 6000;

// Byte 96 from a BitDepthCode: 0 -> 1, 1 -> 2, 2 -> 4, 3 -> 8, anything else -> 0.
uint8_t BitDepthSelect(int bitDepthCode);

// What StartStream puts into the control sector. Width and height are the
// stream size exactly as sent (already aligned, and already halved by the
// model that halves it).
struct StreamSettings {
  bool run = false;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t originX = 0;  // sent by one model only; 0 for the others
  uint16_t originY = 0;
  bool eightBitTransfer = true;
  bool triggerMode = false;
  int bitDepthCode = 0;
  bool syncV = true;
  bool syncH = true;
};

// Fills `sector` (512 bytes) exactly as StartStream writes it.
void BuildStreamSector(const StreamSettings& settings, uint8_t* sector);

// How a register exchange ended.
enum class RegisterResult {
  kDone,        // the camera set the done bit
  kExhausted,   // the poll budget ran out (busy, or only the other direction's bits)
  kNoAnswer,    // a status with none of the four low bits set (also a failed status read)
  kBadAddress,  // the address does not fit the form; nothing was sent
};

// How many bits of wide data the camera keeps in control byte 50.
enum class WideDataBits {
  k22,  // value bits 16-21 (mask 0x3F): most models
  k24,  // value bits 16-23: the model with 24-bit shadowed registers
};

// Largest addresses of the three register forms.
inline constexpr uint32_t kMaxAddress8 = 0xFF;
inline constexpr uint32_t kMaxAddress16 = 0xFFFF;
inline constexpr uint32_t kMaxAddressWide = 0x3FF;

// The exchanges. None of them raises. The register operations take the
// address as a wider integer so that an address beyond the form's width is
// refused (kBadAddress, false) instead of being truncated into another
// register's address.
class SectorProtocol {
 public:
  explicit SectorProtocol(RawVolume* volume = nullptr, const SectorMap& map = SectorMap{})
      : volume_(volume), map_(map) {}

  void SetVolume(RawVolume* volume) { volume_ = volume; }
  RawVolume* volume() const { return volume_; }
  const SectorMap& map() const { return map_; }
  void SetMap(const SectorMap& map) { map_ = map; }

  // Read-modify-write of the control sector with byte 46 = 2; then 8 ms.
  void Stop();

  // Full overwrite of the control sector (BuildStreamSector), read back into
  // the same buffer, then 8 ms.
  void StartStream(const StreamSettings& settings);

  // 8-bit address (byte 36; byte 37 = 0), 16-bit data as two bytes.
  bool WriteRegister(uint32_t address, uint8_t high, uint8_t low, RegisterResult* result = nullptr);
  // Delivers bytes 40 (low) and 41 (high) when the exchange is done or its
  // budget ran out (the latter still returns false); nothing on kNoAnswer.
  bool ReadRegister(uint32_t address, uint8_t* high, uint8_t* low,
                    RegisterResult* result = nullptr);

  // 16-bit address form: address low byte in 36, high byte in 80; 37 and 81 = 0.
  bool WriteRegister16(uint32_t address, uint8_t high, uint8_t low,
                       RegisterResult* result = nullptr);
  bool ReadRegister16(uint32_t address, uint8_t* high, uint8_t* low,
                      RegisterResult* result = nullptr);

  // 10-bit address (36, 37 = bits 8-9), value bits 0-15 in 38/39 and the top
  // bits in 50 (masked by `bits`), 51 = 0.
  bool WriteRegisterWide(uint32_t address, uint32_t value, WideDataBits bits = WideDataBits::k22,
                         RegisterResult* result = nullptr);
  // Delivers 40 | 41 << 8 | 50 << 16 when the exchange is done or its budget
  // ran out. An exhausted budget returns false (the camera never confirmed),
  // although the bytes are delivered as the 8-bit read does.
  bool ReadRegisterWide(uint32_t address, uint32_t* value, RegisterResult* result = nullptr);

  // One read of `sectors` × 512 bytes at the start of area A or B into
  // `buffer`. Returns the bytes transferred (0 on failure or without a volume).
  uint32_t ReadFrame(bool areaB, void* buffer, uint32_t sectors);

  // Reads the control sector and returns byte 44, or -1 when the read failed.
  int ReadFrameReady();

  // The single-shot wait: until `timeoutMs` have passed on CurrentClock(),
  // poll byte 44 and read the area it names; a read of at least `minBytes`
  // ends the wait (returns the bytes read, and the area through `areaB` when
  // given); no frame waiting, and a short read, pause 16 ms before the next poll.
  // Returns 0 when the time ran out, or at the next poll after `*cancel`
  // (when given) became true.
  uint32_t WaitForFrame(void* buffer, uint32_t sectors, uint32_t minBytes, uint32_t timeoutMs,
                        bool* areaB = nullptr, const std::atomic<bool>* cancel = nullptr);

  // Raw control-sector transfers (false on failure; a failed read leaves
  // `sector` unchanged).
  bool ReadControl(uint8_t* sector);
  bool WriteControl(const uint8_t* sector);

 private:
  RawVolume* volume_;
  SectorMap map_;
};

}  // namespace varnel
