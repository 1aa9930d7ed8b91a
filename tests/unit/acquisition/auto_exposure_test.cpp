// Automatic exposure: the brightness factor from the five regions and the
// change it asks of the gain or the exposure.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "imagefile/dib_image.h"
#include "imaging/auto_exposure.h"

namespace varnel {
namespace {

// An image whose five measured regions have the means `m` (m0 first: the
// region nearest the picture's top-left corner in buffer rows, as measured).
void FillRegions(DibImage& image, const int (&m)[5], uint16_t bitCount, int significantBits) {
  ASSERT_TRUE(image.Create(100, 100, bitCount));
  // Buffer-row rectangles of the five regions (rows h - bottom .. h - top).
  const int rects[5][4] = {
      {10, 80, 20, 90}, {10, 10, 20, 20}, {45, 45, 55, 55}, {80, 80, 90, 90}, {80, 10, 90, 20}};
  for (int i = 0; i < 5; ++i) {
    for (int y = rects[i][1]; y < rects[i][3]; ++y) {
      for (int x = rects[i][0]; x < rects[i][2]; ++x) {
        if (bitCount == 8) {
          image.Row(y)[x] = static_cast<uint8_t>(m[i]);
        } else {
          const unsigned v = static_cast<unsigned>(m[i]) << (significantBits - 8);
          image.Row(y)[2 * x] = static_cast<uint8_t>(v);
          image.Row(y)[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        }
      }
    }
  }
}

// Fault caught: the factor's steps, their order and its double-precision
// sums (m0 = 130 with four at 80 gives 1.2000000000000002, with four at 180
// gives 0.6000000000000001), and deep frames measured on bits 2..9 instead
// of their top eight significant bits (a 16-bit mid-grey would read as
// anything).
TEST(AutoExposureTest, FactorFromTheFiveRegions) {
  struct Case {
    const char* name;
    int means[5];
    uint16_t bitCount;
    int bits;
    double expected;
  };
  const Case cases[] = {
      {"all dark", {40, 40, 40, 40, 40}, 8, 8, 1.1 + 0.1 + 0.1 + 0.1 + 0.1},
      {"all fine", {130, 130, 130, 130, 130}, 8, 8, 1.0},
      {"just below 1.2", {130, 80, 80, 80, 80}, 8, 8, 1.0 + 0.05 + 0.05 + 0.05 + 0.05},
      {"just above 0.6", {130, 180, 180, 180, 180}, 8, 8, 1.0 - 0.1 - 0.1 - 0.1 - 0.1},
      {"bright first", {210, 130, 130, 130, 130}, 8, 8, 0.85},
      {"16-bit mid-grey", {130, 130, 130, 130, 130}, 16, 16, 1.0},
      {"12-bit dark", {40, 40, 40, 40, 40}, 16, 12, 1.1 + 0.1 + 0.1 + 0.1 + 0.1},
      {"10-bit bright", {220, 220, 220, 220, 220}, 16, 10, 0.85 - 0.15 - 0.15 - 0.15 - 0.15},
  };
  for (const Case& c : cases) {
    DibImage image;
    FillRegions(image, c.means, c.bitCount, c.bits);
    const std::optional<double> factor = AutoExposureFactor(image, c.bits);
    ASSERT_TRUE(factor.has_value()) << c.name;
    EXPECT_EQ(*factor, c.expected) << c.name;
  }
  EXPECT_FALSE(AutoExposureFactor(DibImage(), 8).has_value());
}

// Fault caught: the decision's thresholds (0.6 and 1.2 excluded), the floor
// of 4 for a rising value, the inverse exposure of the model whose value
// shortens the exposure, and values outside the sensor's own ranges (the
// wide-gain models go beyond 63; a narrow exposure range is kept).
TEST(AutoExposureTest, DecisionStaysInTheSensorsRange) {
  struct Case {
    const char* name;
    int mode;
    double factor;
    int gain, gainMax, exposure, exposureMin, exposureMax;
    bool inverse;
    std::optional<AutoExposureChange> expected;
  };
  const Case cases[] = {
      {"off", kAutoIrisOff, 1.5, 20, 63, 100, 1, 6400, false, std::nullopt},
      {"inside the band", kAutoIrisGain, 1.19, 20, 63, 100, 1, 6400, false, std::nullopt},
      {"0.6 itself changes", kAutoIrisGain, 0.6, 20, 63, 100, 1, 6400, false,
       AutoExposureChange{true, 12}},
      {"dark: gain 20 -> 30", kAutoIrisGain, 1.5, 20, 63, 100, 1, 6400, false,
       AutoExposureChange{true, 30}},
      {"1.2 counts", kAutoIrisGain, 1.2000000000000002, 20, 63, 100, 1, 6400, false,
       AutoExposureChange{true, 24}},
      {"floor of 4", kAutoIrisGain, 1.25, 2, 63, 100, 1, 6400, false, AutoExposureChange{true, 4}},
      {"narrow gain limit", kAutoIrisGain, 1.5, 60, 63, 100, 1, 6400, false,
       AutoExposureChange{true, 63}},
      {"wide gain limit", kAutoIrisGain, 1.5, 60, 1023, 100, 1, 6400, false,
       AutoExposureChange{true, 90}},
      {"exposure narrow range", kAutoIrisExposure, 1.5, 20, 63, 1000, 8, 1068, false,
       AutoExposureChange{false, 1068}},
      {"inverse exposure darkens less", kAutoIrisExposure, 1.5, 20, 1023, 300, 2, 2079, true,
       AutoExposureChange{false, 200}},
      {"inverse exposure bright", kAutoIrisExposure, 0.5, 20, 1023, 1500, 2, 2079, true,
       AutoExposureChange{false, 2079}},
      {"huge product", kAutoIrisExposure, 1.5, 20, 63, 2000000000, 1, 6400, false,
       AutoExposureChange{false, 6400}},
  };
  for (const Case& c : cases) {
    AutoExposureState state;
    state.mode = c.mode;
    state.gain = c.gain;
    state.gainLimits = ValueLimits{0, c.gainMax};
    state.exposure = c.exposure;
    state.exposureLimits = ValueLimits{c.exposureMin, c.exposureMax};
    state.inverseExposure = c.inverse;
    const std::optional<AutoExposureChange> change = DecideAutoExposure(c.factor, state);
    ASSERT_EQ(change.has_value(), c.expected.has_value()) << c.name;
    if (change) {
      EXPECT_EQ(change->gain, c.expected->gain) << c.name;
      EXPECT_EQ(change->value, c.expected->value) << c.name;
    }
  }
}

}  // namespace
}  // namespace varnel
