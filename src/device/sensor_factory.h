// Builds the sensor device of a camera model.
#pragma once

#include <memory>

#include "device/model_code.h"
#include "device/sensor_device.h"

namespace varnel {

// The sensor device of `code`, or null for a code that is not one of the nine
// buildable models (or when memory runs out).
std::unique_ptr<SensorDevice> CreateSensorDevice(ModelCode code);

}  // namespace varnel
