#include "instance/filter_store.h"

namespace varnel {

namespace {

struct FilterRange {
  int FilterSettings::*field;  // null: not held in the block
  int min;
  int max;
};

constexpr int kPackedBayerGains = 6;
constexpr int kBayerAutoGain = 10;
constexpr int kLastId = 27;

// Index = identifier. A range with min > max accepts nothing (the four colour
// gains); identifiers 6 and 10 take any value and are handled apart.
constexpr FilterRange kRanges[kLastId + 1] = {
    {nullptr, 1, 0},                             // 0: unknown
    {&FilterSettings::brightness, -255, 255},    // 1
    {&FilterSettings::contrast, -127, 127},      // 2
    {&FilterSettings::hue, -360, 360},           // 3
    {&FilterSettings::saturation, -255, 255},    // 4
    {&FilterSettings::sharpness, 0, 30},         // 5
    {nullptr, 0, 0},                             // 6: packed Bayer gains
    {&FilterSettings::bayerGainRed, 0, 400},     // 7
    {&FilterSettings::bayerGainGreen, 0, 400},   // 8
    {&FilterSettings::bayerGainBlue, 0, 400},    // 9
    {&FilterSettings::autoWhiteBalance, 0, 0},   // 10: flag
    {&FilterSettings::gamma, 0, 200},            // 11
    {&FilterSettings::bayerPhase, 0, 3},         // 12
    {nullptr, 1, 0},                             // 13: global gain, the sensor's range
    {nullptr, 1, 0},                             // 14: colour gains accept nothing
    {nullptr, 1, 0},                             // 15
    {nullptr, 1, 0},                             // 16
    {nullptr, 1, 0},                             // 17
    {nullptr, 1, 0},                             // 18: exposure time, the sensor's range
    {&FilterSettings::grayMode, 0, 2},           // 19
    {&FilterSettings::grayGainR, 0, 255},        // 20
    {&FilterSettings::grayGainG1, 0, 255},       // 21
    {&FilterSettings::grayGainG2, 0, 255},       // 22
    {&FilterSettings::grayGainB, 0, 255},        // 23
    {&FilterSettings::grayOffsetR, -255, 255},   // 24
    {&FilterSettings::grayOffsetG1, -255, 255},  // 25
    {&FilterSettings::grayOffsetG2, -255, 255},  // 26
    {&FilterSettings::grayOffsetB, -255, 255},   // 27
};

}  // namespace

FilterOutcome StoreFilterValue(FilterSettings& block, int id, int value, ValueRange gainRange,
                               ValueRange exposureRange) {
  if (id < 1 || id > kLastId) return FilterOutcome::kOutOfRange;
  if (id == kPackedBayerGains) {
    block.bayerGainRed = value & 0xFF;
    block.bayerGainGreen = (value >> 8) & 0xFF;
    block.bayerGainBlue = (value >> 16) & 0xFF;
    return FilterOutcome::kDone;
  }
  if (id == kBayerAutoGain) {
    block.autoWhiteBalance = value != 0 ? 1 : 0;
    return FilterOutcome::kDone;
  }
  FilterRange range = kRanges[id];
  if (id == kFilterGlobalGain) range.min = gainRange.minimum, range.max = gainRange.maximum;
  if (id == kFilterExposureTime) {
    range.min = exposureRange.minimum, range.max = exposureRange.maximum;
  }
  if (value < range.min || value > range.max) return FilterOutcome::kOutOfRange;
  if (range.field == nullptr) return FilterOutcome::kSensor;
  block.*range.field = value;
  return FilterOutcome::kDone;
}

FilterOutcome ReadFilterValue(const FilterSettings& block, int id, int* value) {
  if (id < 1 || id > kLastId) return FilterOutcome::kOutOfRange;
  if (id == kPackedBayerGains) {
    *value = (block.bayerGainRed & 0xFF) | (block.bayerGainGreen & 0xFF) << 8 |
             (block.bayerGainBlue & 0xFF) << 16;
    return FilterOutcome::kDone;
  }
  if (id == kFilterGlobalGain || id == kFilterExposureTime) return FilterOutcome::kSensor;
  const FilterRange& range = kRanges[id];
  if (range.field == nullptr) return FilterOutcome::kOutOfRange;
  *value = block.*range.field;
  return FilterOutcome::kDone;
}

}  // namespace varnel
