// The model list the instance builds its drivers from, and the factory that
// builds a driver for a model code.
#pragma once

#include <memory>

#include "device/model_code.h"
#include "driver/camera_driver.h"

namespace varnel {

inline constexpr int kModelCount = 9;
// What the model list gives for an index outside 0..8.
inline constexpr ModelCode kNoModelCode = 0xFFFFFFFFu;

// The code at `index` of the model list (HWH8, HXA1, HXB2, HXE5, HXC3, R2T,
// HYD4, HZF6, HZG7), or kNoModelCode.
ModelCode ModelCodeAt(int index);

// The driver of `code`, or null for any other code and when memory runs out
// while it is built.
std::unique_ptr<CameraDriver> CreateCameraDriver(ModelCode code);

}  // namespace varnel
