// The WinINet time limit from the environment: portable code shared by the POSIX and Win32 layers.
#include "platform/common/inet_timeout.h"

#include <cstdlib>

namespace platform {

long InetTimeoutMs() {
  constexpr long kDefaultTimeoutMs = 60000;
  const char* text = std::getenv("ZEMLIK_INET_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return kDefaultTimeoutMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return kDefaultTimeoutMs;
  return value;
}

}  // namespace platform
