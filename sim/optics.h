// What the lens puts on the sensor.
//
// A lens forms an inverted image. Seen from the front of the sensor's die
// (from the lens, the way a sensor's pixel array is drawn), that image is
// upside down but not reversed left to right: the scene's top lies along the
// die's bottom edge and its left side along the die's left edge. Which of the
// die's edges a sensor reads first is the sensor's own: one that starts at the
// top edge sends the scene's bottom row first, one that starts at the bottom
// edge sends the scene the right way up. Columns are read from the die's left
// edge on every model, so no sensor sends the scene reversed left to right.
#pragma once

#include <cstdint>

namespace varnel::sim {

// The die's edge along which a sensor's first row lies (seen from the lens).
enum class ReadOutStart : uint8_t { kDieTop, kDieBottom };

// The scene row imaged onto sensor row `sensorRow` (rows counted in the
// sensor's read-out order, unmirrored), and the sensor row that images scene
// row `sceneRow`: the mapping is its own inverse. Scene columns are sensor
// columns.
uint32_t SceneRowOfSensorRow(uint32_t sensorRow, uint32_t sensorHeight, ReadOutStart start);

}  // namespace varnel::sim
