#include "device/sector_protocol.h"

#include <cstring>

#include "platform/clock.h"

namespace varnel {

uint8_t BitDepthSelect(int bitDepthCode) {
  switch (bitDepthCode) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 8;
    default:
      return 0;
  }
}

void BuildStreamSector(const StreamSettings& settings, uint8_t* sector) {
  std::memset(sector, 0, kSectorSize);
  sector[control::kRunCommand] = settings.run ? control::kRun : control::kStop;
  sector[control::kEightBit] = settings.eightBitTransfer ? 1 : 0;
  sector[control::kWidthLow] = static_cast<uint8_t>(settings.width & 0xFF);
  sector[control::kWidthHigh] = static_cast<uint8_t>(settings.width >> 8);
  sector[control::kHeightLow] = static_cast<uint8_t>(settings.height & 0xFF);
  sector[control::kHeightHigh] = static_cast<uint8_t>(settings.height >> 8);
  sector[control::kOriginXLow] = static_cast<uint8_t>(settings.originX & 0xFF);
  sector[control::kOriginXHigh] = static_cast<uint8_t>(settings.originX >> 8);
  sector[control::kOriginYLow] = static_cast<uint8_t>(settings.originY & 0xFF);
  sector[control::kOriginYHigh] = static_cast<uint8_t>(settings.originY >> 8);
  sector[control::kTrigger] = settings.triggerMode ? 1 : 0;
  sector[control::kBitDepth] = BitDepthSelect(settings.bitDepthCode);
  sector[control::kSync] = static_cast<uint8_t>((settings.syncV ? 0 : control::kSyncVLow) |
                                                (settings.syncH ? 0 : control::kSyncHLow));
}

bool SectorProtocol::ReadControl(uint8_t* sector) {
  if (volume_ == nullptr) return false;
  uint32_t done = 0;
  return volume_->ReadAt(map_.ControlOffset(), sector, kSectorSize, &done) && done == kSectorSize;
}

bool SectorProtocol::WriteControl(const uint8_t* sector) {
  if (volume_ == nullptr) return false;
  uint32_t done = 0;
  return volume_->WriteAt(map_.ControlOffset(), sector, kSectorSize, &done) && done == kSectorSize;
}

void SectorProtocol::Stop() {
  uint8_t sector[kSectorSize] = {};
  // Only the run byte changes; whatever else the sector holds is written back.
  ReadControl(sector);
  sector[control::kRunCommand] = control::kStop;
  WriteControl(sector);
  CurrentClock().Sleep(kCommandPauseMs);
}

void SectorProtocol::StartStream(const StreamSettings& settings) {
  uint8_t sector[kSectorSize];
  BuildStreamSector(settings, sector);
  WriteControl(sector);
  // The read-back lets the camera latch the command; its content is not used.
  ReadControl(sector);
  CurrentClock().Sleep(kCommandPauseMs);
}

namespace {

enum class Form { kAddress8, kAddress16, kWide };

bool AddressFits(Form form, uint32_t address) {
  switch (form) {
    case Form::kAddress8:
      return address <= kMaxAddress8;
    case Form::kAddress16:
      return address <= kMaxAddress16;
    case Form::kWide:
      return address <= kMaxAddressWide;
  }
  return false;
}

void PlaceAddress(Form form, uint32_t address, uint8_t* sector) {
  sector[control::kAddressLow] = static_cast<uint8_t>(address & 0xFF);
  switch (form) {
    case Form::kAddress8:
      sector[control::kAddressHigh] = 0;
      break;
    case Form::kAddress16:
      sector[control::kAddressHigh] = 0;
      sector[control::kAddress16High] = static_cast<uint8_t>(address >> 8);
      sector[control::kTriggerZero] = 0;
      break;
    case Form::kWide:
      sector[control::kAddressHigh] = static_cast<uint8_t>((address >> 8) & 0x03);
      break;
  }
}

bool Report(RegisterResult value, RegisterResult* result) {
  if (result != nullptr) *result = value;
  return value == RegisterResult::kDone;
}

// Polls the status byte until the exchange's done bit shows. Each poll is one
// control-sector read with no pause. A failed or short read counts as status
// 0, whatever it left in the buffer: a status the camera did not deliver
// whole is no answer.
RegisterResult Poll(SectorProtocol& protocol, bool write) {
  const uint8_t doneBit = write ? control::kStatusWriteDone : control::kStatusReadDone;
  for (int budget = kPollBudget; budget > 0; --budget) {
    uint8_t status[kSectorSize] = {};
    if (!protocol.ReadControl(status)) return RegisterResult::kNoAnswer;
    const uint8_t value = status[control::kStatus];
    if ((value & doneBit) != 0) return RegisterResult::kDone;
    if ((value & 0x0F) == 0) return RegisterResult::kNoAnswer;
    // Busy, or only the other direction's bits: both spend the budget, so a
    // camera that never sets the expected bits cannot hold the caller.
  }
  return RegisterResult::kExhausted;
}

// One register command of any form. `value` and `topMask` serve writes only.
struct RegisterCommand {
  bool write = false;
  Form form = Form::kAddress8;
  uint32_t address = 0;
  uint32_t value = 0;    // bits 0-15 to bytes 38/39; in the wide form bits 16-23 to byte 50
  uint32_t topMask = 0;  // the bits of byte 50 the camera keeps
};

// The command half of every register exchange, the same for all three forms:
// an address that does not fit the form is refused before anything is sent;
// otherwise the control sector is read, so that every byte the command does not
// set goes back to the camera as it was, the command is placed and written, and
// the status is polled for the direction's done bit.
RegisterResult SendCommand(SectorProtocol& protocol, const RegisterCommand& command) {
  if (!AddressFits(command.form, command.address)) return RegisterResult::kBadAddress;
  uint8_t sector[kSectorSize] = {};
  // Without the sector as the camera holds it, the command would write back
  // bytes it never read (the stream's geometry and run byte among them).
  if (!protocol.ReadControl(sector)) return RegisterResult::kNoAnswer;
  sector[control::kRegisterCommand] =
      command.write ? control::kCommandWrite : control::kCommandRead;
  PlaceAddress(command.form, command.address, sector);
  if (command.write) {
    sector[control::kDataLow] = static_cast<uint8_t>(command.value & 0xFF);
    sector[control::kDataHigh] = static_cast<uint8_t>((command.value >> 8) & 0xFF);
    if (command.form == Form::kWide) {
      sector[control::kWideData] = static_cast<uint8_t>((command.value >> 16) & command.topMask);
      sector[control::kWideZero] = 0;
    }
  }
  protocol.WriteControl(sector);
  return Poll(protocol, command.write);
}

// A read exchange of any form. After the read poll the data bytes are fetched
// with one more control read into `sector`. When that read fails there is
// nothing trustworthy to deliver, so the exchange reports no answer. The
// caller delivers the data bytes on kDone and kExhausted only.
RegisterResult ReadExchange(SectorProtocol& protocol, Form form, uint32_t address,
                            uint8_t* sector) {
  const RegisterResult polled =
      SendCommand(protocol, {.write = false, .form = form, .address = address});
  if (polled == RegisterResult::kBadAddress || polled == RegisterResult::kNoAnswer) return polled;
  std::memset(sector, 0, kSectorSize);
  if (!protocol.ReadControl(sector)) return RegisterResult::kNoAnswer;
  return polled;
}

bool Delivers(RegisterResult result) {
  return result == RegisterResult::kDone || result == RegisterResult::kExhausted;
}

// The 8-bit and 16-bit address forms carry 16-bit data as two bytes.
bool WriteTwoBytes(SectorProtocol& protocol, Form form, uint32_t address, uint8_t high, uint8_t low,
                   RegisterResult* result) {
  const uint32_t value = uint32_t{high} << 8 | low;
  return Report(
      SendCommand(protocol, {.write = true, .form = form, .address = address, .value = value}),
      result);
}

bool ReadTwoBytes(SectorProtocol& protocol, Form form, uint32_t address, uint8_t* high,
                  uint8_t* low, RegisterResult* result) {
  uint8_t sector[kSectorSize];
  const RegisterResult read = ReadExchange(protocol, form, address, sector);
  if (Delivers(read)) {
    if (low != nullptr) *low = sector[control::kReadLow];
    if (high != nullptr) *high = sector[control::kReadHigh];
  }
  return Report(read, result);
}

}  // namespace

bool SectorProtocol::WriteRegister(uint32_t address, uint8_t high, uint8_t low,
                                   RegisterResult* result) {
  return WriteTwoBytes(*this, Form::kAddress8, address, high, low, result);
}

bool SectorProtocol::WriteRegister16(uint32_t address, uint8_t high, uint8_t low,
                                     RegisterResult* result) {
  return WriteTwoBytes(*this, Form::kAddress16, address, high, low, result);
}

bool SectorProtocol::WriteRegisterWide(uint32_t address, uint32_t value, WideDataBits bits,
                                       RegisterResult* result) {
  const uint32_t topMask = bits == WideDataBits::k24 ? 0xFF : 0x3F;
  return Report(SendCommand(*this, {.write = true,
                                    .form = Form::kWide,
                                    .address = address,
                                    .value = value,
                                    .topMask = topMask}),
                result);
}

bool SectorProtocol::ReadRegister(uint32_t address, uint8_t* high, uint8_t* low,
                                  RegisterResult* result) {
  return ReadTwoBytes(*this, Form::kAddress8, address, high, low, result);
}

bool SectorProtocol::ReadRegister16(uint32_t address, uint8_t* high, uint8_t* low,
                                    RegisterResult* result) {
  return ReadTwoBytes(*this, Form::kAddress16, address, high, low, result);
}

bool SectorProtocol::ReadRegisterWide(uint32_t address, uint32_t* value, RegisterResult* result) {
  uint8_t sector[kSectorSize];
  const RegisterResult read = ReadExchange(*this, Form::kWide, address, sector);
  if (Delivers(read) && value != nullptr) {
    *value = uint32_t{sector[control::kReadLow]} | uint32_t{sector[control::kReadHigh]} << 8 |
             uint32_t{sector[control::kWideData]} << 16;
  }
  // An exhausted budget is a read the camera never confirmed: false, although
  // the bytes are delivered as the 8-bit read delivers them.
  return Report(read, result);
}

uint32_t SectorProtocol::ReadFrame(bool areaB, void* buffer, uint32_t sectors) {
  if (volume_ == nullptr || sectors == 0 || sectors > UINT32_MAX / kSectorSize) return 0;
  const uint64_t offset = areaB ? map_.AreaBOffset() : map_.AreaAOffset();
  uint32_t done = 0;
  if (!volume_->ReadAt(offset, buffer, sectors * kSectorSize, &done)) return 0;
  return done;
}

int SectorProtocol::ReadFrameReady() {
  uint8_t sector[kSectorSize] = {};
  if (!ReadControl(sector)) return -1;
  return sector[control::kFrameReady];
}

uint32_t SectorProtocol::WaitForFrame(void* buffer, uint32_t sectors, uint32_t minBytes,
                                      uint32_t timeoutMs, bool* areaB,
                                      const std::atomic<bool>* cancel) {
  Clock& clock = CurrentClock();
  const uint32_t start = clock.TickCount();
  // Unsigned subtraction keeps the elapsed time right across the tick wrap.
  while (clock.TickCount() - start < timeoutMs) {
    if (cancel != nullptr && cancel->load()) return 0;
    const int ready = ReadFrameReady();
    if (ready == control::kFrameReadyA || ready == control::kFrameReadyB) {
      const bool fromB = ready == control::kFrameReadyB;
      const uint32_t got = ReadFrame(fromB, buffer, sectors);
      if (got >= minBytes && got > 0) {
        if (areaB != nullptr) *areaB = fromB;
        return got;
      }
      // A short read counts as no frame ready: the wait pauses as it does for
      // any other value of byte 44, so a head that keeps answering short
      // cannot spin the caller without time passing.
    }
    clock.Sleep(kFrameReadyPollMs);
  }
  return 0;
}

}  // namespace varnel
