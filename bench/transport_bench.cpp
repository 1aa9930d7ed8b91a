// One register write (read-modify-write of the control sector, then one status
// poll) and one whole-frame read, through the in-process head and through the
// FUSE head, beside a memcpy of the frame's bytes as the floor.
//
// The FUSE rows need a mounted head and skip without one; run them as
//   VARNEL_CAMSIM_ARGS="--fps 1000" tests/fuse/run_with_camsim.sh
//       build/native/bin/varnel-camsim build/native/bin/varnel_bench
//       --benchmark_filter='RegisterWrite|FrameRead'
// (one command line).
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "device/sector_protocol.h"
#include "platform/clock.h"
#include "platform/raw_volume.h"
#include "sim/virtual_head.h"

namespace varnel {
namespace {

constexpr uint32_t kFrameWidth = 2048, kFrameHeight = 1536;  // the default model's full frame
constexpr uint32_t kFrameSectors = kFrameWidth * kFrameHeight / kSectorSize;

// Frames are paced by the head's clock; this one lets time pass without
// waiting, so the in-process rows measure the transfer, not the frame rate.
class NoWaitClock final : public Clock {
 public:
  uint32_t TickCount() override { return now_; }
  uint32_t TimeMs() override { return now_; }
  void Sleep(uint32_t milliseconds) override { now_ += milliseconds; }

 private:
  uint32_t now_ = 0;
};

std::unique_ptr<RawVolume> MountedVolume(benchmark::State& state) {
  const char* letter = std::getenv("VARNEL_CAMSIM_LETTER");
  if (letter == nullptr || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
    state.SkipWithError("no mounted head: run through tests/fuse/run_with_camsim.sh");
    return nullptr;
  }
  std::unique_ptr<RawVolume> volume = OpenRawVolume(static_cast<char16_t>(letter[0]));
  if (!volume) state.SkipWithError("cannot open the mounted head's volume");
  return volume;
}

void RegisterWrites(benchmark::State& state, RawVolume* volume) {
  SectorProtocol protocol(volume);
  uint32_t value = 0;
  for (auto _ : state) {
    if (!protocol.WriteRegister(0x35, static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value))) {
      state.SkipWithError("register write not confirmed");
      break;
    }
    ++value;
  }
  state.SetItemsProcessed(state.iterations());
}

void FrameReads(benchmark::State& state, RawVolume* volume) {
  SectorProtocol protocol(volume);
  StreamSettings settings;
  settings.run = true;
  settings.width = kFrameWidth;
  settings.height = kFrameHeight;
  protocol.StartStream(settings);
  std::vector<uint8_t> frame(kFrameSectors * kSectorSize);
  bool areaB = false;
  for (auto _ : state) {
    if (protocol.ReadFrame(areaB, frame.data(), kFrameSectors) != frame.size()) {
      state.SkipWithError("short frame read");
      break;
    }
    benchmark::DoNotOptimize(frame.data());
    areaB = !areaB;
  }
  protocol.Stop();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}

void BM_RegisterWriteInProcess(benchmark::State& state) {
  auto head = std::make_shared<VirtualHead>(kModelHXA1);
  RegisterWrites(state, head.get());
}

void BM_RegisterWriteFuse(benchmark::State& state) {
  std::unique_ptr<RawVolume> volume = MountedVolume(state);
  if (volume) RegisterWrites(state, volume.get());
}

void BM_FrameReadInProcess(benchmark::State& state) {
  NoWaitClock clock;
  HeadOptions options;
  options.clock = &clock;
  auto head = std::make_shared<VirtualHead>(kModelHXA1, options);
  FrameReads(state, head.get());
}

void BM_FrameReadFuse(benchmark::State& state) {
  std::unique_ptr<RawVolume> volume = MountedVolume(state);
  if (volume) FrameReads(state, volume.get());
}

// The floor: copying the frame's bytes once.
void BM_FrameReadMemcpy(benchmark::State& state) {
  std::vector<uint8_t> source(kFrameSectors * kSectorSize, 0x5A), target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

}  // namespace
}  // namespace varnel

BENCHMARK(varnel::BM_RegisterWriteInProcess)->Name("BM_RegisterWrite/inprocess")->UseRealTime();
BENCHMARK(varnel::BM_RegisterWriteFuse)->Name("BM_RegisterWrite/fuse")->UseRealTime();
BENCHMARK(varnel::BM_FrameReadMemcpy)->Name("BM_FrameRead/memcpy")->UseRealTime();
BENCHMARK(varnel::BM_FrameReadInProcess)->Name("BM_FrameRead/inprocess")->UseRealTime();
BENCHMARK(varnel::BM_FrameReadFuse)->Name("BM_FrameRead/fuse")->UseRealTime();
