// The identifiers under which the application sets and reads the instance's
// filter values, their accepted ranges, and where each is kept.
#pragma once

#include "device/sensor_device.h"
#include "imaging/filter_settings.h"

namespace varnel {

// Identifiers whose values the sensor holds rather than the filter block.
inline constexpr int kFilterGlobalGain = 13;
inline constexpr int kFilterExposureTime = 18;

enum class FilterOutcome {
  kDone,        // stored (setter) or read (getter)
  kOutOfRange,  // unknown identifier or value outside its range: error 9
  kSensor,      // global gain or exposure time: the caller talks to the sensor
};

// Checks `value` against the range of identifier `id` and, for identifiers
// the block holds, stores it. Global gain and exposure time are only checked,
// against the ranges the current sensor reports (`gainRange`,
// `exposureRange`), so that every range the library reports is the range it
// accepts (kSensor when in range).
FilterOutcome StoreFilterValue(FilterSettings& block, int id, int value, ValueRange gainRange,
                               ValueRange exposureRange);

// Reads identifier `id` from the block into *value. Global gain and exposure
// time give kSensor; unknown identifiers and the four colour gains give
// kOutOfRange. *value is written only for kDone.
FilterOutcome ReadFilterValue(const FilterSettings& block, int id, int* value);

}  // namespace varnel
