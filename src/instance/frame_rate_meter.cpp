#include "instance/frame_rate_meter.h"

namespace varnel {

namespace {
constexpr uint32_t kWindowMs = 1000;
}  // namespace

void FrameRateMeter::Reset(uint32_t nowMs) {
  rate_ = 0;
  count_ = 0;
  lastMs_ = nowMs;
}

int FrameRateMeter::CountFrame(uint32_t nowMs) {
  ++count_;
  const uint32_t elapsed = nowMs - lastMs_;
  if (elapsed > kWindowMs) {
    rate_ = static_cast<int>(static_cast<double>(count_) * 10000.0 / elapsed);
    count_ = 0;
    lastMs_ = nowMs;
  }
  return rate_;
}

}  // namespace varnel
