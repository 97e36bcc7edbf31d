// The fixed clock reading of ZEMLIK_CLOCK. Internal to the layer (POSIX and Win32).
#pragma once

#include "platform/win32.h"

namespace platform {

// Reads "YYYY-MM-DD hh:mm:ss" exactly into *out (day of week filled, milliseconds
// 0); false for anything else or an impossible date or time.
bool ParseFixedClock(const char* text, SYSTEMTIME* out);

}  // namespace platform
