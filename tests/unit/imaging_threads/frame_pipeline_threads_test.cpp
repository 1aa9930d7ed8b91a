// The frame pipeline split into slabs on several threads. In the
// ThreadSanitizer run as well, which reports any state the slabs share.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imagefile/dib_image.h"
#include "imaging/frame_pipeline.h"

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

// Fault caught: a frame that depends on how many threads ran it: rows at a
// slab boundary sharpened before the neighbouring slab wrote the work rows
// they read (or not at all, or twice), a slab's demosaic reaching into its
// neighbour's rows, a lookup table built lazily by two threads at once, or
// scratch rows shared between slabs.
TEST(FramePipelineThreadsTest, EveryThreadCountGivesTheSameFrame) {
  ThreadsReset reset;
  struct Filters {
    const char* name;
    int hue, saturation, gamma, contrast, sharpness, brightness;
  };
  const Filters combos[] = {
      {"all on", -170, -60, 35, -90, 30, -200},
      // No vector constants for this sharpness and brightness: the scalar
      // sharpen kernel and the brightness table after it.
      {"sharpness and brightness without constants", 0, 0, 100, 0, 45, 250},
  };
  CpuFeatures detected{};
  DetectCpuFeatures(&detected);
  // Tall enough for several slabs of whole bands in every class (the mono
  // classes have the longest bands), with an odd width and height.
  const int w = 601, h = 701;
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (const Filters& c : combos) {
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
      const int bitDepth = colorClass == kColorClassBgr64 ? 2 : 1;
      std::vector<uint8_t> oneThread;
      for (int threads : {1, 3}) {
        SetFramePipelineThreads(threads);
        Images im(w, h, static_cast<unsigned>(colorClass));
        FilterSettings settings = s;
        DibImage* frame = RunFramePipeline(im.View(), settings, colorClass, bitDepth, detected);
        ASSERT_NE(frame, nullptr);
        std::vector<uint8_t> bytes(frame->Pixels(), frame->Pixels() + frame->ImageSize());
        if (threads == 1) {
          oneThread = std::move(bytes);
        } else {
          ASSERT_EQ(bytes, oneThread)
              << "class " << colorClass << ", " << c.name << ", " << threads << " threads";
        }
      }
    }
  }
}

}  // namespace
}  // namespace varnel::test
