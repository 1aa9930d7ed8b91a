// The read-out of one stream: which sensor samples the frame carries, in which
// order and encoding, as decided by the run command and the register file.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/model_traits.h"

namespace varnel::sim {

// Significant bits from control byte 96.
uint32_t DepthFromSelect(uint8_t select, uint32_t nativeBits);

// The colour of the filter over sensor pixel (x, y) for a host-numbered
// phase: phase 0 is G B / R G, phase 1 exchanges the rows, phase 2 the
// columns, phase 3 both. 0 red, 1 green, 2 blue.
int FilterColor(uint32_t x, uint32_t y, int phase);

struct Layout {
  uint32_t fieldWidth = 0, fieldHeight = 0;  // as sent in bytes 64-70
  uint32_t pictureWidth = 0, pictureHeight = 0;
  uint32_t bytesPerSample = 1, bits = 8;
  uint32_t rowBytes = 0, frameBytes = 0;
  Transport transport = Transport::kTopDown;
  uint32_t rowsSent = 0;  // picture rows the frame carries (bottom-up: from the window)
  std::vector<int32_t> columnMap, rowMap;  // picture -> sensor, -1 = black
  uint32_t permille = 1000;
  bool monochrome = false;
  int phase = 0;
  // For HeadStream.
  uint32_t windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;
  uint32_t stepX = 1, stepY = 1;
  bool mirrorH = false, mirrorV = false;

  bool SameRendering(const Layout& other) const {
    return pictureWidth == other.pictureWidth && pictureHeight == other.pictureHeight &&
           bytesPerSample == other.bytesPerSample && bits == other.bits &&
           rowBytes == other.rowBytes && frameBytes == other.frameBytes &&
           transport == other.transport && rowsSent == other.rowsSent &&
           permille == other.permille && monochrome == other.monochrome && phase == other.phase &&
           columnMap == other.columnMap && rowMap == other.rowMap;
  }

  // Byte offset in the frame of picture pixel (column, row), or -1 when the
  // frame does not carry it.
  int64_t FrameOffset(uint32_t column, uint32_t row) const {
    if (column >= pictureWidth || row >= pictureHeight) return -1;
    uint64_t frameRow = row;
    if (transport == Transport::kBottomUp) {
      if (row >= rowsSent) return -1;
      frameRow = rowsSent - 1 - row;
    }
    uint64_t byte;
    if (transport == Transport::kTwoEnded) {
      // Each two-byte unit k carries column k in its second byte and column
      // width-1-k in its first, so both ends of a row arrive together.
      const uint32_t half = pictureWidth / 2;
      byte = column < half ? 2 * uint64_t{column} + 1 : 2 * uint64_t{pictureWidth - 1 - column};
    } else {
      byte = uint64_t{column} * bytesPerSample;
    }
    const uint64_t offset = frameRow * rowBytes + byte;
    return offset < frameBytes ? static_cast<int64_t>(offset) : -1;
  }

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
