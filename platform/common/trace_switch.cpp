// Whether the trace goes to standard error: portable code shared by the POSIX and Win32 layers.
#include <cstdlib>
#include <cstring>

#include "platform/trace.h"

namespace platform {

bool TraceMirrored() {
  const char* value = std::getenv("ZEMLIK_TRACE");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace platform
