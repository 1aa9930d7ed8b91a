// The head's state, shared by the files that implement its concerns: the
// register file, the control sector, the read-out, the scene, pacing and
// faults. Internal to the head.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <mutex>
#include <vector>

#include "device/sector_protocol.h"
#include "sim/model_traits.h"
#include "sim/readout.h"
#include "sim/scene.h"
#include "sim/virtual_head.h"

namespace varnel {

namespace sim {

struct PendingCommand {
  bool active = false;
  bool write = false;
  RegisterForm form = RegisterForm::kAddress8;
  uint32_t address = 0;
  uint32_t value = 0;
  uint64_t writtenUs = 0;
  uint32_t pollsSeen = 0;
};

// Wall-clock microseconds since 1970 (pacing.cpp).
int64_t WallUs();

}  // namespace sim

struct VirtualHead::Impl {
  const sim::ModelTraits& traits;
  HeadOptions options;
  // The clock of a test, or null: the head then keeps time in microseconds
  // on the system's steady clock, so that it paces any frame rate exactly
  // (a millisecond clock cannot pace more than about 1000 frames a second).
  Clock* clock;
  uint64_t volumeSize;

  mutable std::mutex mutex;
  std::array<uint8_t, kSectorSize> sector{};
  std::array<uint8_t, kSectorSize> runSector{};
  std::vector<uint32_t> registers;
  std::vector<RegisterExchange> log;
  std::vector<RunExchange> runLog;
  HeadFaults faults;
  SceneOptions scene;
  HeadCounters counters;
  sim::PendingCommand pending;

  bool running = false;
  uint64_t runStartUs = 0;
  uint32_t frameBase = 0;
  uint32_t lastNumber = 0;
  uint32_t lastDelivered = 0;
  std::shared_ptr<const sim::Frame> latched[2];
  // The frame a read at an area's start began; reads further into the area
  // continue it, whatever the area holds by then.
  std::shared_ptr<const sim::Frame> transferring[2];

  // Triggered frames: one per area at most, from the pulse until the host
  // has read it. The sensor reads one frame out at a time.
  struct TriggerSlot {
    bool busy = false;
    std::shared_ptr<const sim::Frame> frame;
    uint64_t readyAtUs = 0;  // head time its read-out ends
    uint64_t sequence = 0;   // the pulse's place in triggerLog
  };
  TriggerSlot triggerSlots[2];
  int nextTriggerArea = 0;
  uint64_t sensorFreeAtUs = 0;
  // The steady-rate trigger.
  bool generatorOn = false;
  double generatorPeriodUs = 0;
  double generatorNextUs = 0;
  uint64_t generatorLeft = 0;  // 0 with generatorOn: no limit
  TriggerCounters triggerCounters;
  std::deque<TriggeredFrame> triggerLog;
  uint64_t triggerLogBase = 0;  // sequence of triggerLog.front()

  sim::Layout cachedLayout;
  SceneOptions cachedScene;
  std::shared_ptr<const sim::Rendering> cachedBase;
  std::vector<uint32_t> cachedColumns, cachedRows;  // of cachedLayout, upright

  bool tickStarted = false;
  uint32_t lastTick = 0;
  uint64_t elapsedUs = 0;
  std::chrono::steady_clock::time_point steadyStart = std::chrono::steady_clock::now();
  int64_t wallStartUs = sim::WallUs();

  bool removed = false;
  char attachedLetter = 0;

  Impl(const sim::ModelTraits& modelTraits, const HeadOptions& headOptions)
      : traits(modelTraits),
        options(headOptions),
        clock(headOptions.clock),
        volumeSize(sim::VolumeSizeOf(modelTraits)),
        registers(modelTraits.registerForm == RegisterForm::kAddress16 ? 0x10000 : 0x400, 0) {
    ResetRegisters();
  }

  uint32_t Reg(uint32_t address) const {
    return address < registers.size() ? registers[address] : 0;
  }

  // Register file (register_file.cpp).
  void ResetRegisters();
  uint32_t GainValue() const;
  uint32_t ExposureValue() const;
  uint32_t Permille() const;
  bool SensorAgreesToTrigger() const;
  bool TriggerModeActive() const;
  bool TriggerSourceEnabled() const;

  // Read-out (readout.cpp). `otherMirrorH` gives the layout the head would
  // have with its horizontal mirror the other way, for reading stamps of
  // frames taken before a mirror change.
  sim::Layout ComputeLayout(bool otherMirrorH = false) const;

  // Rendering (scene.cpp).
  uint32_t SceneLevel(const SceneOptions& opts, uint32_t x, uint32_t y, int color) const;
  std::shared_ptr<const sim::Rendering> RenderBase(const sim::Layout& layout,
                                                   const SceneOptions& opts) const;
  // The overlays of frame `number` (and the trigger time of a triggered
  // frame), drawn into the upright picture whose columns and rows are the
  // frame's `columns` and `rows`.
  std::vector<sim::Patch> Overlay(const sim::Layout& layout, const std::vector<uint32_t>& columns,
                                  const std::vector<uint32_t>& rows, const SceneOptions& opts,
                                  uint32_t number, std::optional<uint32_t> triggerTime) const;
  std::shared_ptr<const sim::Frame> MakeFrame(uint32_t number,
                                              std::optional<uint32_t> triggerTime = std::nullopt);

  // Pacing (pacing.cpp).
  uint64_t NowUs();
  int64_t WallAt(uint64_t headUs);
  void SleepUs(uint64_t microseconds);
  double PeriodUs(const sim::Layout& layout) const;
  std::shared_ptr<const sim::Frame> NextFrame(bool areaB, std::unique_lock<std::mutex>& lock);

  // Control sector (control_sector.cpp).
  void RefreshStatus();
  void Execute();
  void RegisterCommand();
  void RunCommand(bool run);
  void WriteControl(const uint8_t* data, uint32_t from, uint32_t count);

  // Triggers (triggers.cpp).
  bool WaitingForTriggers() const;
  bool Pulse(uint64_t atUs);
  TriggeredFrame* LogEntry(uint64_t sequence);
  int OldestTriggeredArea() const;
  void UpdateFrameReady(uint64_t nowUs);
  void AdvanceTriggers();
  void TakeTriggeredFrame(int area);

  // Faults (faults.cpp).
  bool TransferAllowed(std::unique_lock<std::mutex>& lock);
};

}  // namespace varnel
