// The local clock.
#pragma once

#include "platform/win32.h"

void GetLocalTime(LPSYSTEMTIME systemTime);
DWORD GetTickCount();

namespace platform {

// Test seam: a clock that replaces the host's local time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Now(SYSTEMTIME* out) = 0;
};

// Installs `clock` (not owned) for GetLocalTime; null restores the host clock.
// The binary also honours ZEMLIK_CLOCK="YYYY-MM-DD hh:mm:ss", a fixed reading
// used by end-to-end tests.
void SetClockForTesting(Clock* clock);

}  // namespace platform
