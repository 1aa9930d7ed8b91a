// The one clock of the library. Every pause of the camera protocol and every
// tick count goes through it, so that tests can replace it with a clock that
// records the pauses and advances time without really waiting.
#pragma once

#include <cstdint>

namespace varnel {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps at 2^32 like GetTickCount.
  virtual uint32_t TickCount() = 0;
  // The multimedia-timer clock (timeGetTime on Windows), also in milliseconds.
  virtual uint32_t TimeMs() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// The real clock of the platform.
Clock& SystemClock();

// The clock the library uses: the system clock unless a test installed another.
Clock& CurrentClock();

// Installs `clock` (or the system clock again when null) and returns the one it
// replaces. Not synchronised: tests install clocks before starting threads.
Clock* SetCurrentClock(Clock* clock);

}  // namespace varnel
