// The capture-window limits the camera instance applies per camera model, and
// the check every window change and every acquisition start makes.
//
// These are the instance's own limits. For several models they differ from the
// sensor device's maximum size; the instance never consults the sensor's.
#pragma once

#include "device/model_code.h"

namespace varnel {

struct ModelLimits {
  int maxWidth;
  int maxHeight;
};

// Limits of `model`; 800 x 600 when `hasDriver` is false.
ModelLimits LimitsForModel(bool hasDriver, ModelCode model);

// True for the models whose capture window cannot be changed (HYD4, HZF6,
// HZG7): setting a window on them records error 7.
bool WindowIsFixed(ModelCode model);

// For the models whose window is fixed, stores the whole sensor area (the
// size every acquisition on them uses) and returns true; false otherwise.
bool FixedWindowSize(ModelCode model, int* width, int* height);

struct CaptureWindow {
  int hTotal = 0;
  int vTotal = 0;
  int width = 0;
  int height = 0;
  int hStart = 0;
  int vStart = 0;
};

// True when the window lies inside the model's limits and `subSample` is 0, 1
// or 2. The totals are not checked. Sums are formed in 64 bits so that huge
// values cannot wrap into the allowed range.
bool WindowFits(const CaptureWindow& window, int subSample, ModelLimits limits);

}  // namespace varnel
