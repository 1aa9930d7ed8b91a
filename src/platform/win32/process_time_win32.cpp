#include <windows.h>

#include "platform/process_time.h"

namespace varnel {

namespace {

// A FILETIME span (100-nanosecond units) in seconds.
double Seconds(const FILETIME& t) {
  const ULONGLONG units = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<double>(units) * 1e-7;
}

}  // namespace

double ProcessCpuSeconds() {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  return Seconds(kernel) + Seconds(user);
}

}  // namespace varnel
