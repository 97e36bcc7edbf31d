// The local clock, and how long a job waits for its connection.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)

namespace platform {
// The system's GetLocalTime behind the clock seam below.
void SeamedLocalTime(LPSYSTEMTIME systemTime);
}  // namespace platform

#else  // POSIX

// Every field is filled, wDayOfWeek (0 = Sunday) and wMilliseconds included.
void GetLocalTime(LPSYSTEMTIME systemTime);
// Milliseconds of a monotonic clock; wraps after 49.7 days.
DWORD GetTickCount();

#endif  // _WIN32

namespace platform {

// Test seam: a clock that replaces the host's local time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Now(SYSTEMTIME* out) = 0;
};

// Installs `clock` (not owned) for GetLocalTime; null restores the host clock.
// Without one, GetLocalTime honours ZEMLIK_CLOCK="YYYY-MM-DD hh:mm:ss", a fixed
// reading used by end-to-end tests (read at each call). A malformed or impossible
// value keeps the run from starting at all (RunWinMain, platform/entry.h).
void SetClockForTesting(Clock* clock);

// Test seam: how long a job waits for its data connection. `wait` itself, unless a test set
// a shorter wait with SetConnectionWaitForTesting (0 restores the program's own).
DWORD ConnectionWaitMs(DWORD wait);
void SetConnectionWaitForTesting(DWORD ms);

}  // namespace platform
