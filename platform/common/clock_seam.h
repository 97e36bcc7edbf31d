// The clock seam in front of the host's local time. Internal to the layer (POSIX and Win32).
#pragma once

#include "platform/time.h"

namespace platform {

// The reading of the clock installed with SetClockForTesting, else the fixed reading of
// ZEMLIK_CLOCK. False, with *out untouched, when neither applies: then the host's clock is
// the one to read.
bool ReadSeamedClock(SYSTEMTIME* out);

}  // namespace platform
