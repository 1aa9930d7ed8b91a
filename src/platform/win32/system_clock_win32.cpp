#include <windows.h>
#include <mmsystem.h>

#include "platform/clock.h"

namespace varnel {

namespace {

class Win32Clock final : public Clock {
 public:
  uint32_t TickCount() override { return GetTickCount(); }
  uint32_t TimeMs() override { return timeGetTime(); }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace varnel
