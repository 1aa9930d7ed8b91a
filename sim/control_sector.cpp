// The control sector: register commands with their status handshake, and
// run/stop commands.
#include "sim/head_impl.h"

#include <cstring>

#include "device/sector_protocol.h"

namespace varnel {

using namespace sim;

void VirtualHead::Impl::RefreshStatus() {
  if (faults.statusZero) {
    sector[control::kStatus] = 0;
    return;
  }
  if (!pending.active) return;
  const uint8_t busy = pending.write ? control::kStatusWriteBusy : control::kStatusReadBusy;
  const uint8_t done = pending.write ? control::kStatusWriteDone : control::kStatusReadDone;
  const uint8_t other = pending.write ? control::kStatusReadDone : control::kStatusWriteDone;
  if (faults.statusStuckBusy) {
    sector[control::kStatus] = busy;
  } else if (faults.otherDirectionOnly) {
    sector[control::kStatus] = other;
  } else if (pending.pollsSeen < faults.busyPolls ||
             NowUs() < pending.writtenUs + uint64_t{faults.answerDelayMs} * 1000) {
    ++pending.pollsSeen;
    sector[control::kStatus] = busy;
  } else {
    Execute();
    sector[control::kStatus] = done;
  }
}

void VirtualHead::Impl::Execute() {
  pending.active = false;
  uint32_t& slot = registers[pending.address];
  if (pending.write) {
    slot = pending.value;
    return;
  }
  sector[control::kReadLow] = static_cast<uint8_t>(slot & 0xFF);
  sector[control::kReadHigh] = static_cast<uint8_t>((slot >> 8) & 0xFF);
  if (pending.form == RegisterForm::kWide) {
    sector[control::kWideData] = static_cast<uint8_t>((slot >> 16) & 0xFF);
  }
}

void VirtualHead::Impl::RegisterCommand() {
  const uint8_t* s = sector.data();
  const bool write = s[control::kRegisterCommand] == control::kCommandWrite;
  RegisterExchange exchange;
  exchange.write = write;
  uint32_t value = s[control::kDataLow] | s[control::kDataHigh] << 8;
  switch (traits.registerForm) {
    case RegisterForm::kAddress16:
      exchange.form = RegisterForm::kAddress16;
      exchange.address = s[control::kAddressLow] | s[control::kAddress16High] << 8;
      break;
    case RegisterForm::kWide:
      exchange.form = RegisterForm::kWide;
      exchange.address = s[control::kAddressLow] | (s[control::kAddressHigh] & 0x03) << 8;
      value |= (s[control::kWideData] & traits.wideTopMask) << 16;
      break;
    case RegisterForm::kAddress8:
      exchange.address = s[control::kAddressLow] | (s[control::kAddressHigh] & 0x03) << 8;
      exchange.form =
          (s[control::kAddressHigh] & 0x03) != 0 ? RegisterForm::kWide : RegisterForm::kAddress8;
      if (exchange.form == RegisterForm::kWide) value |= (s[control::kWideData] & 0x3F) << 16;
      break;
  }
  exchange.value = write ? value : Reg(exchange.address);
  const bool refused = faults.refusedRegisters.count(exchange.address) != 0;
  exchange.accepted =
      !(refused || faults.statusZero || faults.statusStuckBusy || faults.otherDirectionOnly);
  log.push_back(exchange);

  pending = PendingCommand{};
  if (refused || faults.statusZero) {
    // Refused: the status says nothing, and the host gives up at once.
    sector[control::kStatus] = 0;
    return;
  }
  pending.active = true;
  pending.write = write;
  pending.form = exchange.form;
  pending.address = exchange.address;
  pending.value = value;
  pending.writtenUs = NowUs();
  const bool delayed = faults.statusStuckBusy || faults.otherDirectionOnly ||
                       faults.busyPolls > 0 || faults.answerDelayMs > 0;
  if (delayed) {
    sector[control::kStatus] = write ? control::kStatusWriteBusy : control::kStatusReadBusy;
  } else {
    Execute();
    sector[control::kStatus] = write ? control::kStatusWriteDone : control::kStatusReadDone;
  }
}

void VirtualHead::Impl::RunCommand(bool run) {
  RunExchange exchange;
  exchange.run = run;
  std::memcpy(exchange.sector, sector.data(), kSectorSize);
  runLog.push_back(exchange);
  if (running) {
    // Frames that finished before the stop keep their numbers.
    const double period = PeriodUs(ComputeLayout());
    const uint64_t finished = static_cast<uint64_t>(double(NowUs() - runStartUs) / period);
    lastNumber = std::max<uint64_t>(lastNumber, frameBase + finished);
  }
  runSector = sector;
  sector[control::kFrameReady] = 0;
  running = run;
  ++counters.runCommands;
  // The camera starts afresh: triggered frames not read yet are gone.
  for (TriggerSlot& slot : triggerSlots) {
    if (slot.busy) ++triggerCounters.cleared;
    slot = TriggerSlot{};
  }
  nextTriggerArea = 0;
  sensorFreeAtUs = 0;
  if (run) {
    runStartUs = NowUs();
    frameBase = std::max(lastNumber, lastDelivered);
  }
}

void VirtualHead::Impl::WriteControl(const uint8_t* data, uint32_t from, uint32_t count) {
  // Bytes the camera owns stay the camera's whatever the host writes back.
  const uint8_t readLow = sector[control::kReadLow], readHigh = sector[control::kReadHigh];
  const uint8_t status = sector[control::kStatus], ready = sector[control::kFrameReady];
  std::memcpy(sector.data() + from, data, count);
  sector[control::kReadLow] = readLow, sector[control::kReadHigh] = readHigh;
  sector[control::kStatus] = status, sector[control::kFrameReady] = ready;

  const uint8_t command = sector[control::kRegisterCommand];
  if (command == control::kCommandWrite || command == control::kCommandRead) {
    RegisterCommand();
    // The command is consumed, so a later read-modify-write of the sector
    // does not repeat it.
    sector[control::kRegisterCommand] = 0;
    return;
  }
  const bool touchesRun = from <= control::kRunCommand && control::kRunCommand < from + count;
  const uint8_t run = sector[control::kRunCommand];
  if (touchesRun && (run == control::kRun || run == control::kStop)) {
    RunCommand(run == control::kRun);
  }
}

std::vector<RegisterExchange> VirtualHead::RegisterLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

std::vector<RunExchange> VirtualHead::RunLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->runLog;
}

void VirtualHead::ClearLogs() {
  std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
  impl_->runLog.clear();
}

void VirtualHead::ControlSector(uint8_t* sector) const {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceTriggers();
  std::memcpy(sector, impl_->sector.data(), kSectorSize);
}

}  // namespace varnel
