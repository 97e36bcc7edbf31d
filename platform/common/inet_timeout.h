// The time limit of the WinINet calls (platform/inet.h), read alike by the POSIX and Win32
// layers. Internal to the layer.
#pragma once

namespace platform {

// ZEMLIK_INET_TIMEOUT_MS when it is a whole number above zero, else 60000: the milliseconds
// a connection may take to open, and a transfer may go without delivering a byte.
long InetTimeoutMs();

}  // namespace platform
