#include "instance/model_limits.h"

#include <gtest/gtest.h>

#include <climits>

namespace varnel {
namespace {

// Fault caught: a model's limits swapped or taken from the sensor's own
// maximum size instead of the instance's table.
TEST(ModelLimitsTest, LimitsPerModel) {
  struct Case {
    bool hasDriver;
    ModelCode model;
    int width;
    int height;
  };
  const Case cases[] = {
      {false, kModelHXB2, 800, 600},  {true, kModelR2T, 752, 480},
      {true, kModelHXJ9, 1600, 1200}, {true, kModelHZF6, 1600, 1200},
      {true, kModelHXA1, 2048, 1536}, {true, kModelHXB2, 2560, 1920},
      {true, kModelHYD4, 1360, 1024}, {true, kModelHXE5, 1280, 1024},
      {true, kModelHZG7, 2456, 2038}, {true, kModelHXC3, 5000, 5000},
      {true, kModelHWH8, 5000, 8192},
  };
  for (const Case& c : cases) {
    ModelLimits limits = LimitsForModel(c.hasDriver, c.model);
    EXPECT_EQ(limits.maxWidth, c.width) << c.model;
    EXPECT_EQ(limits.maxHeight, c.height) << c.model;
  }
}

// Fault caught: an off-by-one at the edge, negative values accepted, a sum
// that wraps past INT_MAX accepted, the sub-sample not checked, a window
// that leaves no pixel (after sub-sampling) accepted.
TEST(ModelLimitsTest, WindowFitsChecksEdgesSignsAndSubSample) {
  const ModelLimits limits{2048, 1536};
  struct Case {
    CaptureWindow window;
    int subSample;
    bool fits;
  };
  const Case cases[] = {
      {{0, 0, 2048, 1536, 0, 0}, 0, true},
      {{0, 0, 1024, 768, 1024, 768}, 2, true},
      {{0, 0, 1025, 768, 1024, 768}, 0, false},  // one pixel beyond the width
      {{0, 0, 1024, 769, 1024, 768}, 0, false},  // one line beyond the height
      {{0, 0, 1, 1, 2047, 1535}, 0, true},       // one pixel at the far corner
      {{0, 0, 0, 0, 2048, 1536}, 0, false},      // empty: no picture to take
      {{0, 0, 3, 3, 0, 0}, 2, false},            // emptied by sub-sampling
      {{0, 0, 4, 2, 0, 0}, 1, true},
      {{0, 0, -1, 10, 0, 0}, 0, false},
      {{0, 0, 10, 10, -1, 0}, 0, false},
      {{0, 0, 10, 10, 0, -1}, 0, false},
      {{0, 0, 10, -1, 0, 0}, 0, false},
      {{0, 0, INT_MAX, 10, INT_MAX, 0}, 0, false},
      {{0, 0, 2048, 1536, 0, 0}, 3, false},
      {{0, 0, 2048, 1536, 0, 0}, -1, false},
      {{999999, -5, 100, 100, 0, 0}, 0, true},  // totals are not checked
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowFits(c.window, c.subSample, limits), c.fits)
        << c.window.width << "x" << c.window.height << "+" << c.window.hStart << "+"
        << c.window.vStart << " sub " << c.subSample;
  }
}

}  // namespace
}  // namespace varnel
