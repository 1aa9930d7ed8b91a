// The safe point at which the reader thread stops while the driver is paused.
//
// The reader passes the gate between frames, when it holds no lock and no
// transfer is in flight; a paused driver therefore never leaves a lock taken or
// the camera half-way through a transfer, unlike a thread suspended wherever it
// happens to be.
#pragma once

#include <condition_variable>
#include <mutex>

namespace varnel {

class PauseGate {
 public:
  // Asks the reader to stop at its next safe point. Returns at once.
  void Close();
  // Lets a parked reader go on.
  void Open();
  // Wakes a parked reader for good, so that it can see a stop request; the
  // gate stays open from then on.
  void Cancel();

  // Reader side: waits while the gate is closed (and not cancelled).
  void Pass();

  bool IsClosed();
  // True while the reader waits at the gate.
  bool IsParked();
  // Waits until the reader is parked (for tests and for callers that need the
  // reader quiet). Returns false when `timeoutMs` passed first.
  bool WaitParked(unsigned timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool cancelled_ = false;
  bool parked_ = false;
};

}  // namespace varnel
