// Trigger-to-picture latency per triggering model, as an inspection line sees
// it: the virtual head fires triggers at a steady rate (10,000 of them;
// VARNEL_TRIGGER_BENCH_COUNT changes the number), the library is armed with
// Varnel_Trigger at the settings a new user gets (the stored window and
// colour mode), and the benchmark's thread takes each frame message as it
// arrives. Latency: from the trigger (the head's wall-clock time of the
// pulse) to the message reaching the benchmark.
//
// Reference in the same run: the frame's transfer time at the head's rate
// (its read-out time: no frame is ready sooner) plus its pipeline time (from
// the moment the library begins to read the frame from the head, which the
// head records, to the message; the median over the run). Goal: median
// latency within transfer + pipeline + 1 ms, p99 within transfer + pipeline
// + 3 ms, no trigger lost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_session.h"
#include "device/model_code.h"
#include "sim/virtual_head.h"
#include "varnel.h"
#include "varnel_posix.h"

namespace varnel {
namespace {

constexpr char16_t kBenchLetter = u'V';
constexpr int kWarmUpTriggers = 5;
constexpr uint32_t kFrameMessage = 0x8002;
constexpr int kMessageBoundMs = 30000;

int64_t WallUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double Rank(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

struct Session : BenchSession {
  // The wall-clock time of the next frame message; 0 when none came.
  int64_t NextFrame() {
    VarnelPosixMessage message{};
    while (VarnelPosix_ReadMessage(queue, &message, kMessageBoundMs) == 1) {
      if (message.message == kFrameMessage && message.wParam != 0) return WallUs();
    }
    return 0;
  }
};

bool SelectHead(Session& s, int type) {
  std::vector<char> names(32 * 256);
  const int count = Varnel_EnumDevice(s.handle, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * 256]) != "V:") continue;
    if (Varnel_SetDeviceNumber(s.handle, i) != 1) return false;
    Varnel_SetCameraType(s.handle, type);  // 7 alone: the stored window did not fit
    int code = 0;
    while (int next = Varnel_GetLastError(s.handle)) code = next == 7 ? code : next;
    return code == 0;
  }
  return false;
}

void BM_TriggerLatency(benchmark::State& state, ModelCode model, int type) {
  const char* countText = std::getenv("VARNEL_TRIGGER_BENCH_COUNT");
  const long triggers = countText != nullptr ? std::max(1L, std::atol(countText)) : 10000;
  for (auto _ : state) {
    Session s;
    s.head = std::make_shared<VirtualHead>(model);
    s.handle = Varnel_Initialize(nullptr);
    s.queue = VarnelPosix_CreateMessageQueue();
    if (!s.head->AttachTo(kBenchLetter) || !SelectHead(s, type)) {
      state.SkipWithError("cannot select the virtual head");
      return;
    }
    // A buffer for the largest picture: the window is the stored one (or
    // the sensor's, on the model with a fixed window), the class any.
    CameraInfo info{};
    info.size = sizeof info;
    Varnel_GetCameraInfo(s.handle, &info);
    std::vector<uint8_t> buffer(static_cast<size_t>(info.maxWidth) * info.maxHeight * 8 + 4096);
    if (Varnel_Trigger(s.handle, s.queue, buffer.data(), static_cast<int>(buffer.size()), 1) != 1) {
      state.SkipWithError("Varnel_Trigger failed");
      return;
    }
    const double transferMs = s.head->ReadoutUs() / 1000.0;
    // The first frames (buffers touched for the first time) are not measured;
    // they tell the time the library takes for a frame, so that the steady
    // rate leaves it that time and the read-out between triggers.
    std::vector<int64_t> arrivals;
    for (int i = 0; i < kWarmUpTriggers; ++i) {
      s.head->Trigger();
      arrivals.push_back(s.NextFrame());
    }
    std::vector<TriggeredFrame> log = s.head->TriggeredFrames();
    std::vector<double> warmUp;
    for (size_t i = 0; i < log.size() && i < arrivals.size(); ++i) {
      warmUp.push_back((arrivals[i] - log[i].readUs) / 1000.0);
    }
    const double periodMs = transferMs + Rank(warmUp, 1.0) + 30.0;
    const size_t before = log.size();
    const TriggerCounters countsBefore = s.head->TriggerStats();
    arrivals.clear();
    s.head->StartTriggers(1000.0 / periodMs, static_cast<uint64_t>(triggers));
    for (long i = 0; i < triggers; ++i) {
      const int64_t arrived = s.NextFrame();
      if (arrived == 0) break;
      arrivals.push_back(arrived);
    }
    Varnel_StopPreview(s.handle);
    const TriggerCounters counts = s.head->TriggerStats();
    log = s.head->TriggeredFrames();

    // The frames were read in the order of the triggers, one message each.
    std::vector<double> latency, pipeline;
    for (size_t i = 0; i < arrivals.size() && before + i < log.size(); ++i) {
      const TriggeredFrame& frame = log[before + i];
      if (frame.readUs == 0) break;
      latency.push_back((arrivals[i] - frame.firedUs) / 1000.0);
      pipeline.push_back((arrivals[i] - frame.readUs) / 1000.0);
    }
    const double fired = static_cast<double>(counts.fired - countsBefore.fired);
    const double reference = transferMs + Rank(pipeline, 0.5);
    const double median = Rank(latency, 0.5);
    const double p99 = Rank(latency, 0.99);
    state.SetIterationTime(periodMs * static_cast<double>(arrivals.size()) / 1000.0);
    state.counters["triggers"] = fired;
    state.counters["lost"] = fired - static_cast<double>(arrivals.size());
    // Why a trigger gave no frame: the camera was not waiting for it, both
    // frame areas still held frames the library had not read (it was late),
    // or a stop or restart threw its frame away.
    state.counters["ignored"] = static_cast<double>(counts.ignored - countsBefore.ignored);
    state.counters["overrun"] = static_cast<double>(counts.overrun - countsBefore.overrun);
    state.counters["cleared"] = static_cast<double>(counts.cleared - countsBefore.cleared);
    state.counters["period_ms"] = periodMs;
    state.counters["median_ms"] = median;
    state.counters["p99_ms"] = p99;
    state.counters["max_ms"] = Rank(latency, 1.0);
    state.counters["transfer_ms"] = transferMs;
    state.counters["pipeline_ms"] = Rank(pipeline, 0.5);
    state.counters["pipeline_p99_ms"] = Rank(pipeline, 0.99);
    state.counters["median_over_goal_ms"] = median - (reference + 1.0);
    state.counters["p99_over_goal_ms"] = p99 - (reference + 3.0);
    state.counters["colour_bits"] = Varnel_GetColorMode(s.handle);
  }
}

BENCHMARK_CAPTURE(BM_TriggerLatency, HXA1, kModelHXA1, 1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_TriggerLatency, HZG7, kModelHZG7, 8)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace varnel
