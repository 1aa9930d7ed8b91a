// The frame-rate meter of the streaming path: frames are counted, and when
// more than a second has passed since the last update the rate becomes
// count x 10000 / elapsed milliseconds, in tenths of frames per second.
#pragma once

#include <cstdint>

namespace varnel {

class FrameRateMeter {
 public:
  // Starts a new measurement at `nowMs` (the multimedia clock): no frames
  // counted, rate 0.
  void Reset(uint32_t nowMs);
  // Counts one frame at `nowMs` and returns the current rate (tenths of
  // frames per second). The elapsed time is an unsigned difference, so the
  // clock's wrap at 2^32 does not disturb it.
  int CountFrame(uint32_t nowMs);
  int Rate() const { return rate_; }

 private:
  int rate_ = 0;
  int count_ = 0;
  uint32_t lastMs_ = 0;
};

}  // namespace varnel
