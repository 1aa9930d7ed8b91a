// The head's state, shared by the files that implement its concerns: the
// register file, the control sector, the read-out, the scene, pacing and
// faults. Internal to the head.
#pragma once

#include <array>
#include <chrono>
#include <memory>
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
  bool nextTriggerAreaB = false;
  std::shared_ptr<const sim::Frame> latched[2];

  sim::Layout cachedLayout;
  SceneOptions cachedScene;
  std::shared_ptr<const sim::Rendering> cachedBase;

  bool tickStarted = false;
  uint32_t lastTick = 0;
  uint64_t elapsedUs = 0;
  std::chrono::steady_clock::time_point steadyStart = std::chrono::steady_clock::now();

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

  // Read-out (readout.cpp).
  sim::Layout ComputeLayout() const;

  // Rendering (scene.cpp).
  uint32_t SceneLevel(const SceneOptions& opts, uint32_t x, uint32_t y, int color) const;
  std::shared_ptr<const sim::Rendering> RenderBase(const sim::Layout& layout,
                                                   const SceneOptions& opts) const;
  std::vector<sim::Patch> Overlay(const sim::Layout& layout, const SceneOptions& opts,
                                  uint32_t number) const;
  std::shared_ptr<const sim::Frame> MakeFrame(uint32_t number);

  // Pacing (pacing.cpp).
  uint64_t NowUs();
  void SleepUs(uint64_t microseconds);
  double PeriodUs(const sim::Layout& layout) const;
  std::shared_ptr<const sim::Frame> NextFrame(bool areaB, std::unique_lock<std::mutex>& lock);

  // Control sector (control_sector.cpp).
  void RefreshStatus();
  void Execute();
  void RegisterCommand();
  void RunCommand(bool run);
  void WriteControl(const uint8_t* data, uint32_t from, uint32_t count);

  // Faults (faults.cpp).
  bool TransferAllowed(std::unique_lock<std::mutex>& lock);
};

}  // namespace varnel
