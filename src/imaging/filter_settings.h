// The instance's block of filter values. The filter dialogs and the settings
// store treat it as one block of 30 ints, so the order and size of the fields
// are fixed; the frame pipeline reads it once per step without a lock.
#pragma once

#include <cstddef>

namespace varnel {

struct FilterSettings {
  int brightness;      // -255..255, 0 = off
  int contrast;        // -127..127, 0 = off
  int hue;             // -360..360 degrees, 0 = off
  int saturation;      // -255..255, 0 = off
  int sharpness;       // 0..30, 0 = off
  int bayerGainRed;    // percent, 100 = x1
  int bayerGainGreen;  // carried, never applied by the demosaic
  int bayerGainBlue;   // percent, 100 = x1
  int gamma;           // 0..200, 100 = off
  int bayerPhase;      // BayerPhase 0..3
  int reserved10;
  int grayMode;   // 0 off, 1 gray gains, 2 colour to gray
  int grayGainR;  // 128 = x1
  int grayGainG1;
  int grayGainG2;
  int grayGainB;
  int grayOffsetR;  // -255..255
  int grayOffsetG1;
  int grayOffsetG2;
  int grayOffsetB;
  int reserved20[5];
  int autoWhiteBalance;     // non-zero: measure the white balance on this frame
  int whiteBalanceOnce[2];  // with autoWhiteBalance all set: run once, then clear all three
  int reserved28;
  int autoGrayGainCount;  // 0 off, 1 once, -1 every frame
};

static_assert(sizeof(FilterSettings) == 30 * sizeof(int), "the block is 30 ints");
static_assert(offsetof(FilterSettings, gamma) == 8 * sizeof(int));
static_assert(offsetof(FilterSettings, grayMode) == 11 * sizeof(int));
static_assert(offsetof(FilterSettings, grayOffsetB) == 19 * sizeof(int));
static_assert(offsetof(FilterSettings, autoWhiteBalance) == 25 * sizeof(int));
static_assert(offsetof(FilterSettings, autoGrayGainCount) == 29 * sizeof(int));

}  // namespace varnel
