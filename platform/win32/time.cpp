// The clock seam in front of the system's GetLocalTime: Win32 code only.
#include "platform/time.h"

#include <atomic>
#include <cstdlib>

#include "platform/common/fixed_clock.h"

#undef GetLocalTime

namespace {

std::atomic<platform::Clock*> g_clock{nullptr};

}  // namespace

namespace platform {

void SeamedLocalTime(LPSYSTEMTIME systemTime) {
  if (Clock* clock = g_clock.load()) {
    clock->Now(systemTime);
    return;
  }
  const char* fixed = std::getenv("ZEMLIK_CLOCK");
  if (fixed != nullptr && ParseFixedClock(fixed, systemTime)) return;
  ::GetLocalTime(systemTime);
}

void SetClockForTesting(Clock* clock) { g_clock.store(clock); }

}  // namespace platform
