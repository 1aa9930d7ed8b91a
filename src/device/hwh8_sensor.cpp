#include "device/hwh8_sensor.h"

#include <algorithm>

namespace varnel {

Hwh8Sensor::Hwh8Sensor() {
  const WindowRect full{0, 0, kMaxWidth, kMaxHeight};
  StoreWindows(full, full);
}

bool Hwh8Sensor::SetCaptureWindow(int x, int y, int width, int height) {
  // The origin goes to the camera, and the image the host receives always
  // starts at its own (0, 0). A negative origin is raised to 0 (the control
  // sector carries it unsigned, where -3 would become 65533), and an odd one
  // is taken down to even, as the models with window registers do: a window
  // from an odd column or row would start on another colour of the mosaic
  // than the Bayer phase names.
  width = std::clamp(width, 12, kMaxWidth);
  height = std::clamp(height, 12, kMaxHeight);
  StoreWindows(WindowRect{0, 0, width, height},
               WindowRect{std::max(x, 0) & ~1, std::max(y, 0) & ~1, width, height});
  return true;
}

// This head cannot subsample: whatever is asked, every row and column is read.
bool Hwh8Sensor::SetVerticalSubsample(int) { return SensorDevice::SetVerticalSubsample(0); }
bool Hwh8Sensor::SetHorizontalSubsample(int) { return SensorDevice::SetHorizontalSubsample(0); }

void Hwh8Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

void Hwh8Sensor::StartStream(bool run) {
  const StreamSize stream = CurrentStreamSize();
  const WindowRect registers = GetRegisterWindow();
  SendStreamStart(run, stream.width, stream.height, registers.x, registers.y);
}

}  // namespace varnel
