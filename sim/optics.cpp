#include "sim/optics.h"

namespace varnel::sim {

uint32_t SceneRowOfSensorRow(uint32_t sensorRow, uint32_t sensorHeight, ReadOutStart start) {
  // The scene's top lies along the die's bottom edge: a sensor that starts
  // there sees the scene's rows in order, one that starts at the top edge
  // sees them last first.
  if (start == ReadOutStart::kDieBottom || sensorRow >= sensorHeight) return sensorRow;
  return sensorHeight - 1 - sensorRow;
}

}  // namespace varnel::sim
