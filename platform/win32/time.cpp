// The clock seam in front of the system's GetLocalTime: Win32 code only.
#include "platform/time.h"

#include "platform/common/clock_seam.h"

namespace platform {

void SeamedLocalTime(LPSYSTEMTIME systemTime) {
  if (!ReadSeamedClock(systemTime)) ::GetLocalTime(systemTime);
}

}  // namespace platform
