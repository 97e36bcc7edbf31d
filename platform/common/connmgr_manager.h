// What the POSIX and Win32 connection managers share: the installed manager.
// Internal to the layer.
#pragma once

#include <cstring>

#include "platform/connmgr.h"

namespace platform {

// The manager installed for testing, else the environment's (never destroyed:
// threads may outlive main()).
ConnectionManager& CurrentConnectionManager();

inline bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

}  // namespace platform
