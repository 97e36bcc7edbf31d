// The clock seam in front of the host's local time. Internal to the layer (POSIX and Win32).
#pragma once

#include "platform/time.h"

namespace platform {

// The reading of the clock installed with SetClockForTesting, else the fixed reading of
// ZEMLIK_CLOCK. False, with *out untouched, when neither applies: then the host's clock is
// the one to read.
bool ReadSeamedClock(SYSTEMTIME* out);

// The value of ZEMLIK_CLOCK when it is set, not empty, and not a reading that
// ReadSeamedClock takes; null otherwise. A run given one must not start: its files
// would carry a time that nobody asked for.
const char* UnreadableFixedClock();

}  // namespace platform
