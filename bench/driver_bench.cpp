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
#include <vector>

#include "platform/raw_volume.h"

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
    if (eventCode != kEventFrameReady) return;
    // Event 1 comes only from the dispatcher thread; the times are read after
    // the driver has stopped (and joined it).
    const auto now = std::chrono::steady_clock::now();
    if (frames_.load(std::memory_order_relaxed) == 0) first_ = now;
    last_ = now;
    frames_.fetch_add(1, std::memory_order_release);
  }
  int Frames() const { return frames_.load(std::memory_order_acquire); }
  // Seconds from the first delivered frame to the last.
  double Span() const { return std::chrono::duration<double>(last_ - first_).count(); }

 private:
  std::atomic<int> frames_{0};
  std::chrono::steady_clock::time_point first_;
  std::chrono::steady_clock::time_point last_;
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
    // Frames lost while streaming (a stop also drops what is still queued).
    const uint64_t dropped = driver->Counters().framesDropped;
    driver->Stop();
    head->Detach();

    // The rate is measured from the first delivered frame to the last, so the
    // start-up (opening, sending every setting, the first exposure) is not in it.
    const int frames = listener.Frames();
    const double span = listener.Span();
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    state.counters["fps"] = frames > 1 && span > 0 ? (frames - 1) / span : 0.0;
    state.counters["link_fps"] = linkFps;
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["frames"] = frames;
    state.counters["frame_MB"] = frameBytes / 1e6;
  }
}

// References in the same run: what one frame costs the two threads on their
// own. The reader's share is one frame read from the head (rendering and copy);
// the dispatcher's is one conversion by an engine configured as the driver
// configures its main engine. The stream cannot beat the slower of the two.
struct StreamParts {
  std::unique_ptr<CameraDriver> driver;
  std::shared_ptr<VirtualHead> head;
};

StreamParts MakeParts(ModelCode model) {
  StreamParts parts;
  parts.driver = CreateCameraDriver(model);
  SensorDevice& sensor = *parts.driver->GetSensorDevice();
  int width = 0;
  int height = 0;
  sensor.GetMaxSize(&width, &height);
  sensor.SetCaptureWindow(0, 0, width, height);
  sensor.SetEightBitTransfer(1);
  sensor.SetDriveLetter(kBenchLetter);
  HeadOptions options;
  options.framesPerSecond = 1e6;  // no pacing: measure the work alone
  parts.head = std::make_shared<VirtualHead>(model, options);
  return parts;
}

void BM_DriverPartConvert(benchmark::State& state, ModelCode model) {
  StreamParts parts = MakeParts(model);
  ColorEngine* engine = parts.driver->CreateColorEngine();
  if (engine == nullptr) {
    state.SkipWithError("no engine");
    return;
  }
  std::vector<uint8_t> frame(size_t(engine->GetWidth()) * engine->GetHeight() * 2, 0x40);
  for (auto _ : state) {
    engine->SubmitFrame(frame.data(), frame.size());
    benchmark::DoNotOptimize(engine->GetImageBuffer());
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  parts.driver->DestroyEngine(engine);
}

void BM_DriverPartRead(benchmark::State& state, ModelCode model) {
  StreamParts parts = MakeParts(model);
  if (!parts.head->AttachTo(kBenchLetter)) {
    state.SkipWithError("cannot attach the virtual head");
    return;
  }
  parts.driver->Start();
  const size_t bytes = size_t(parts.driver->GetSensorDevice()->GetFrameSectors()) * kSectorSize;
  parts.driver->Stop();
  // Run the head as the driver leaves it at start, then read as the reader does.
  std::unique_ptr<RawVolume> volume = OpenRawVolume(kBenchLetter);
  SectorProtocol protocol(volume.get());
  StreamSettings settings;
  settings.run = true;
  int x = 0, y = 0, w = 0, h = 0;
  parts.driver->GetSensorDevice()->GetCaptureWindow(&x, &y, &w, &h);
  const StreamSize stream = AlignedStreamSize(w, h, true);
  settings.width = static_cast<uint16_t>(stream.width);
  settings.height = static_cast<uint16_t>(stream.height);
  protocol.StartStream(settings);
  std::vector<uint8_t> buffer(bytes);
  bool areaB = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(protocol.ReadFrame(areaB, buffer.data(), bytes / kSectorSize));
    areaB = !areaB;
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  parts.head->Detach();
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
    benchmark::RegisterBenchmark((std::string("BM_DriverPartConvert/") + m.name).c_str(),
                                 BM_DriverPartConvert, m.code)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_DriverPartRead/") + m.name).c_str(),
                                 BM_DriverPartRead, m.code)
        ->Unit(benchmark::kMillisecond);
  }
}

const bool kRegistered = (RegisterDriverBenchmarks(), true);

}  // namespace
}  // namespace varnel
