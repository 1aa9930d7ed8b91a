// Frames per second through the whole driver: reader thread, frame pool,
// dispatcher thread, conversion by the main engine and direct delivery to a
// listener that only counts, against the rate the link allows.
//
// The head is paced at the link's bandwidth (550 MB/s over the bytes of one
// frame at full size with 8-bit transfer), so link_fps is the reference in the
// same run: the goal is dropped = 0 and fps >= 0.99 x link_fps.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "device/sector_protocol.h"
#include "device/sensor_device.h"
#include "driver/camera_driver.h"
#include "driver/model_factory.h"
#include "engine/color_engine.h"
#include "sim/virtual_head.h"

namespace varnel {
namespace {

constexpr double kLinkBytesPerSecond = 550e6;
constexpr int kMinimumFrames = 200;
constexpr auto kMinimumTime = std::chrono::seconds(3);
constexpr char16_t kBenchLetter = u'W';

class CountingListener final : public FrameListener {
 public:
  void Notify(int eventCode, ColorEngine*) override {
    if (eventCode == kEventFrameReady) frames_.fetch_add(1, std::memory_order_relaxed);
  }
  int Frames() const { return frames_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int> frames_{0};
};

void BM_DriverStream(benchmark::State& state, ModelCode model) {
  for (auto _ : state) {
    std::unique_ptr<CameraDriver> driver = CreateCameraDriver(model);
    SensorDevice& sensor = *driver->GetSensorDevice();
    int width = 0;
    int height = 0;
    sensor.GetMaxSize(&width, &height);
    sensor.SetCaptureWindow(0, 0, width, height);
    sensor.SetEightBitTransfer(1);
    sensor.SetDriveLetter(kBenchLetter);
    // The bytes of one frame on the link: the aligned stream, one byte a sample.
    const StreamSize stream = AlignedStreamSize(width, height, true);
    const double frameBytes = double(stream.width) * double(stream.height);
    const double linkFps = kLinkBytesPerSecond / frameBytes;

    HeadOptions options;
    options.framesPerSecond = linkFps;
    auto head = std::make_shared<VirtualHead>(model, options);
    if (!head->AttachTo(kBenchLetter)) {
      state.SkipWithError("cannot attach the virtual head");
      return;
    }
    CountingListener listener;
    driver->AddListener(&listener);
    driver->SetDeliveryMode(kDeliveryDirect);
    driver->SetConvert(true);
    driver->SetRawCopy(false);

    driver->Start();
    if (driver->GetState() != kDriverRunning) {
      head->Detach();
      state.SkipWithError("the driver did not start");
      return;
    }
    const auto started = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::duration::zero();
    while (listener.Frames() < kMinimumFrames || elapsed < kMinimumTime) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      elapsed = std::chrono::steady_clock::now() - started;
      if (elapsed > std::chrono::seconds(30)) break;  // a stalled stream still reports
    }
    const int frames = listener.Frames();
    elapsed = std::chrono::steady_clock::now() - started;
    driver->Stop();
    head->Detach();

    const double seconds = std::chrono::duration<double>(elapsed).count();
    const DriverCounters counters = driver->Counters();
    state.SetIterationTime(seconds);
    state.counters["fps"] = frames / seconds;
    state.counters["link_fps"] = linkFps;
    state.counters["dropped"] = static_cast<double>(counters.framesDropped);
    state.counters["frames"] = frames;
    state.counters["frame_MB"] = frameBytes / 1e6;
  }
}

void RegisterDriverBenchmarks() {
  static const struct {
    const char* name;
    ModelCode code;
  } kModels[] = {{"HWH8", kModelHWH8}, {"HXA1", kModelHXA1}, {"HXB2", kModelHXB2},
                 {"HXE5", kModelHXE5}, {"HXC3", kModelHXC3}, {"R2T", kModelR2T},
                 {"HYD4", kModelHYD4}, {"HZF6", kModelHZF6}, {"HZG7", kModelHZG7}};
  for (const auto& m : kModels) {
    benchmark::RegisterBenchmark((std::string("BM_DriverStream/") + m.name).c_str(),
                                 BM_DriverStream, m.code)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
}

const bool kRegistered = (RegisterDriverBenchmarks(), true);

}  // namespace
}  // namespace varnel
