#include "instance/model_limits.h"

#include <cstdint>

namespace varnel {

ModelLimits LimitsForModel(bool hasDriver, ModelCode model) {
  if (!hasDriver) return {800, 600};
  switch (model) {
    case kModelR2T:
      return {752, 480};
    case kModelHXJ9:
      return {1600, 1200};
    case kModelHZF6:
      return {1600, 1200};
    case kModelHXA1:
      return {2048, 1536};
    case kModelHXB2:
      return {2560, 1920};
    case kModelHYD4:
      return {1360, 1024};
    case kModelHXE5:
      return {1280, 1024};
    case kModelHZG7:
      return {2456, 2038};
    case kModelHXC3:
      return {5000, 5000};
    default:
      return {5000, 8192};
  }
}

bool WindowFits(const CaptureWindow& w, int subSample, ModelLimits limits) {
  if (w.width < 0 || w.height < 0 || w.hStart < 0 || w.vStart < 0) return false;
  if (subSample < 0 || subSample > 2) return false;
  // A window must leave at least one pixel after sub-sampling: an empty one
  // has nothing to read, and every buffer made for it would be empty.
  if ((w.width >> subSample) < 1 || (w.height >> subSample) < 1) return false;
  if (w.width > limits.maxWidth || w.hStart > limits.maxWidth) return false;
  if (w.height > limits.maxHeight || w.vStart > limits.maxHeight) return false;
  if (int64_t{w.hStart} + w.width > limits.maxWidth) return false;
  if (int64_t{w.vStart} + w.height > limits.maxHeight) return false;
  return true;
}

bool WindowIsFixed(ModelCode model) {
  return model == kModelHYD4 || model == kModelHZF6 || model == kModelHZG7;
}

bool FixedWindowSize(ModelCode model, int* width, int* height) {
  if (!WindowIsFixed(model)) return false;
  const ModelLimits limits = LimitsForModel(true, model);
  *width = limits.maxWidth;
  *height = limits.maxHeight;
  return true;
}

}  // namespace varnel
