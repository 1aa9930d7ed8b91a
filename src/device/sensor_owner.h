// What a sensor device needs from the driver that embeds it.
//
// The sensor asks its owner whether the stream runs (register requests are
// then deferred to the reader thread, and pending changes stop and restart the
// camera around them), and hands it the outcome of a deferred register read or
// write, which the owner passes on to each of its frame listeners.
#pragma once

#include <cstdint>

namespace varnel {

// Event codes a deferred register request is reported with.
inline constexpr int kEventRegisterReadDone = 2;
inline constexpr int kEventRegisterWriteDone = 3;

// The register-result record a frame listener carries: the transfer's result
// (1 = the camera confirmed, 0 = not), the register address and the two data
// bytes (written, or read back).
struct RegisterResultRecord {
  int32_t result = 0;
  int32_t address = 0;
  int32_t high = 0;
  int32_t low = 0;
};

class SensorOwner {
 public:
  virtual ~SensorOwner() = default;
  // True while the owner's driver state is Running.
  virtual bool IsRunning() = 0;
  // Stores `record` into the register-result record of every listener, in
  // list order, then notifies every listener with `eventCode` (2 after a
  // deferred read, 3 after a deferred write).
  virtual void ReportRegisterResult(int eventCode, const RegisterResultRecord& record) = 0;
};

}  // namespace varnel
