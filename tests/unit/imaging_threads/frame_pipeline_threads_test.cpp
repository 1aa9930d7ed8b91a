// The frame pipeline split into slabs on the process's pipeline workers. In
// the ThreadSanitizer run as well, which reports any state the slabs, or the
// cameras sharing the workers, share.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pipeline_pool.h"
#include "support/wait_until.h"

namespace varnel::test {
namespace {

struct Images {
  DibImage raw8, raw16, bgr24, bgr32, bgr48, bgr64, work;
  Images(int w, int h, unsigned seed) {
    raw8.Create(w, h, 8);
    raw16.Create(w, h, 16);
    bgr24.Create(w, h, 24);
    bgr32.Create(w, h, 32);
    bgr48.Create(w, h, 48);
    bgr64.Create(w, h, 64);
    std::mt19937 rng(seed);
    for (DibImage* raw : {&raw8, &raw16}) {
      for (size_t i = 0; i < raw->ImageSize(); ++i) raw->Pixels()[i] = static_cast<uint8_t>(rng());
    }
  }
  FrameImages View() { return {&raw8, &raw16, &bgr24, &bgr32, &bgr48, &bgr64, &work}; }
};

struct ThreadsReset {
  ~ThreadsReset() { SetFramePipelineThreads(1); }
};

struct Filters {
  const char* name;
  int hue, saturation, gamma, contrast, sharpness, brightness;
};
const Filters kCombos[] = {
    {"all on", -170, -60, 35, -90, 30, -200},
    // No vector constants for this sharpness and brightness: the scalar
    // sharpen kernel and the brightness table after it.
    {"sharpness and brightness without constants", 0, 0, 100, 0, 45, 250},
};

FilterSettings SettingsFor(int colorClass, const Filters& c) {
  FilterSettings s{};
  s.bayerGainRed = 130;
  s.bayerGainGreen = 100;
  s.bayerGainBlue = 90;
  s.grayGainR = s.grayGainG1 = s.grayGainG2 = s.grayGainB = 128;
  s.grayMode = colorClass == 0 ? 2 : 0;
  s.bayerPhase = colorClass % 4;
  s.hue = c.hue;
  s.saturation = c.saturation;
  s.gamma = c.gamma;
  s.contrast = c.contrast;
  s.sharpness = c.sharpness;
  s.brightness = c.brightness;
  return s;
}

// Tall enough for several slabs of whole bands in every class (the mono
// classes have the longest bands), with an odd width and height.
constexpr int kWidth = 601, kHeight = 701;

// The frame of one class and filter combination at the thread count set now.
std::vector<uint8_t> RunOnce(int colorClass, const Filters& c, const CpuFeatures& cpu) {
  Images im(kWidth, kHeight, static_cast<unsigned>(colorClass));
  FilterSettings settings = SettingsFor(colorClass, c);
  const int bitDepth = colorClass == kColorClassBgr64 ? 2 : 1;
  DibImage* frame = RunFramePipeline(im.View(), settings, colorClass, bitDepth, cpu);
  if (frame == nullptr) return {};
  return std::vector<uint8_t>(frame->Pixels(), frame->Pixels() + frame->ImageSize());
}

// Fault caught: a frame that depends on how many threads ran it: rows at a
// slab boundary sharpened before the neighbouring slab wrote the work rows
// they read (or not at all, or twice), a slab's demosaic reaching into its
// neighbour's rows, a lookup table built lazily by two threads at once, or
// scratch rows shared between slabs; and, with three cameras' frames on the
// pool at once, a worker running one camera's slab with another's stage or
// rows, or a frame returned before its last slab was done.
TEST(FramePipelineThreadsTest, EveryThreadCountAndSeveralCamerasAtOnceGiveTheSameFrame) {
  ThreadsReset reset;
  CpuFeatures detected{};
  DetectCpuFeatures(&detected);
  std::vector<std::vector<uint8_t>> oneThread;
  SetFramePipelineThreads(1);
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (const Filters& c : kCombos) {
      oneThread.push_back(RunOnce(colorClass, c, detected));
      ASSERT_FALSE(oneThread.back().empty());
    }
  }
  // The pool is held throughout, as a camera instance holds it, so the
  // workers serve every frame below.
  PipelinePool::Hold hold;
  for (int threads : {2, 3}) {
    SetFramePipelineThreads(threads);
    size_t i = 0;
    for (int colorClass = 0; colorClass <= 5; ++colorClass) {
      for (const Filters& c : kCombos) {
        ASSERT_EQ(RunOnce(colorClass, c, detected), oneThread[i++])
            << "class " << colorClass << ", " << c.name << ", " << threads << " threads";
      }
    }
  }
  // Three cameras at once: each thread runs every class in its own order.
  SetFramePipelineThreads(3);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> cameras;
  for (int camera = 0; camera < 3; ++camera) {
    cameras.emplace_back([&, camera] {
      for (int k = 0; k < 6; ++k) {
        const int colorClass = (k + 2 * camera) % 6;
        for (size_t f = 0; f < std::size(kCombos); ++f) {
          if (RunOnce(colorClass, kCombos[f], detected) !=
              oneThread[static_cast<size_t>(colorClass) * std::size(kCombos) + f]) {
            ++mismatches;
          }
        }
      }
    });
  }
  for (std::thread& t : cameras) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(PipelinePool::Process().Workers(), 2);
}

// Fault caught: one camera's frame waiting for a worker that is busy with
// another camera's slab (a slow or stalled frame elsewhere holding up every
// camera), or workers left running once nobody holds the pool.
TEST(FramePipelineThreadsTest,
     AFrameNeverWaitsForAWorkerBusyElsewhereAndWorkersEndWithTheLastHold) {
  PipelinePool& pool = PipelinePool::Process();
  {
    PipelinePool::Hold hold;
    std::atomic<bool> workerEntered{false}, release{false}, firstDone{false};
    // Camera A: its caller waits in its own slab until the pool's one worker
    // has taken the other slab, and that slab stalls until released.
    std::thread a([&] {
      const std::thread::id caller = std::this_thread::get_id();
      pool.Run(
          2,
          [&](int) {
            if (std::this_thread::get_id() == caller) {
              testing::WaitUntil([&] { return workerEntered.load(); });
            } else {
              workerEntered = true;
              testing::WaitUntil([&] { return release.load(); });
            }
          },
          1);
      firstDone = true;
    });
    ASSERT_TRUE(testing::WaitUntil([&] { return workerEntered.load(); }));
    // Camera B meanwhile: its frame is done by its own thread.
    std::atomic<int> ran{0};
    pool.Run(
        2, [&](int) { ++ran; }, 1);
    EXPECT_EQ(ran.load(), 2);
    EXPECT_FALSE(firstDone.load());
    release = true;
    a.join();
    EXPECT_TRUE(firstDone.load());
    EXPECT_EQ(pool.Workers(), 1);
  }
  EXPECT_EQ(pool.Workers(), 0);
}

}  // namespace
}  // namespace varnel::test
