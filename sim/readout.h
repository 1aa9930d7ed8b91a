// The read-out of one stream: which sensor samples the frame carries, in which
// order and encoding, as decided by the run command and the register file.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/model_traits.h"
#include "sim/optics.h"

namespace varnel::sim {

// Significant bits from control byte 96.
uint32_t DepthFromSelect(uint8_t select, uint32_t nativeBits);

// The colour of the filter over sensor pixel (x, y) for a host-numbered
// phase: phase 0 is G B / R G, phase 1 exchanges the rows, phase 2 the
// columns, phase 3 both. 0 red, 1 green, 2 blue.
int FilterColor(uint32_t x, uint32_t y, int phase);

// A frame as the head sends it: `pictureWidth` samples per row (for the
// two-ended read-out, per pair of rows of units) in `pictureHeight` rows, in
// the order the sensor reads them, each sample mapped to the sensor pixel it
// comes from.
struct Layout {
  uint32_t fieldWidth = 0, fieldHeight = 0;  // as sent in bytes 64-70
  uint32_t pictureWidth = 0, pictureHeight = 0;
  uint32_t bytesPerSample = 1, bits = 8;
  uint32_t rowBytes = 0, frameBytes = 0;
  Transport transport = Transport::kRows;
  // Frame column and row -> sensor column and row, -1 = black (outside the
  // window or the sensor).
  std::vector<int32_t> columnMap, rowMap;
  // What the lens shows each sensor row (optics.h).
  uint32_t sensorHeight = 0;
  ReadOutStart readOutStart = ReadOutStart::kDieBottom;
  uint32_t permille = 1000;
  bool monochrome = false;
  int phase = 0;  // of the colour filter in the sensor's read-out order
  // For HeadStream.
  uint32_t windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;
  uint32_t stepX = 1, stepY = 1;
  bool mirrorH = false, mirrorV = false;

  bool SameRendering(const Layout& other) const {
    return pictureWidth == other.pictureWidth && pictureHeight == other.pictureHeight &&
           bytesPerSample == other.bytesPerSample && bits == other.bits &&
           rowBytes == other.rowBytes && frameBytes == other.frameBytes &&
           transport == other.transport && permille == other.permille &&
           monochrome == other.monochrome && phase == other.phase && columnMap == other.columnMap &&
           rowMap == other.rowMap;
  }

  // The scene row that sensor row `sensorRow` sees.
  uint32_t SceneRow(uint32_t sensorRow) const {
    return SceneRowOfSensorRow(sensorRow, sensorHeight, readOutStart);
  }

  // Byte offset of sample `column` inside a frame row.
  uint64_t ByteInRow(uint32_t column) const {
    if (transport == Transport::kTwoEnded) {
      // Each two-byte unit k carries column k in its second byte and column
      // width-1-k in its first, so both ends of a row arrive together.
      const uint32_t half = pictureWidth / 2;
      return column < half ? 2 * uint64_t{column} + 1 : 2 * uint64_t{pictureWidth - 1 - column};
    }
    return uint64_t{column} * bytesPerSample;
  }

  // Byte offset in the frame of frame sample (column, row), or -1 when the
  // frame does not carry it.
  int64_t FrameOffset(uint32_t column, uint32_t row) const {
    if (column >= pictureWidth || row >= pictureHeight) return -1;
    const uint64_t offset = uint64_t{row} * rowBytes + ByteInRow(column);
    return offset < frameBytes ? static_cast<int64_t>(offset) : -1;
  }

  // The frame's columns and rows that show the window, in the order the
  // scene shows them: left to right and top to bottom. Entry i is the frame
  // column (row) of the upright picture's column (row) i.
  std::vector<uint32_t> UprightColumns() const;
  std::vector<uint32_t> UprightRows() const;

  void Encode(uint32_t level16, uint8_t* out) const {
    if (bytesPerSample == 1) {
      out[0] = static_cast<uint8_t>(level16 >> 8);
      return;
    }
    // The deep encoding: the first byte holds the sample's top eight bits,
    // the second the remaining low bits in its least significant bits.
    const uint32_t sample = level16 >> (16 - bits);
    out[0] = static_cast<uint8_t>(sample >> (bits - 8));
    out[1] = static_cast<uint8_t>(sample & ((1u << (bits - 8)) - 1));
  }
};

}  // namespace varnel::sim
