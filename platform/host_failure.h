// What the host layer saw go wrong while the program ran, which the program cannot see for
// itself: the errno and path of a failed file call, libcurl's words for a failed transfer, an
// allocation that failed. The host's failure line is made from it and from the program's own
// outcome; the device and the Windows build have no such line, so this is POSIX only.
#pragma once

#include <string>

#include "platform/win32.h"

#if !defined(_WIN32)

namespace platform {

struct HostFailure {
  bool outOfMemory = false;  // an allocation failed
  // The last file call that failed: what it was doing ("create", "open", "read", "write",
  // "rename", "replace", "create a file in", "follow the link"), the host path it was
  // given, and errno.
  std::string fileAction;
  std::string filePath;
  int fileError = 0;
  // A device path met a device root that is not there: the folder ZEMLIK_ROOT (else HOME)
  // named, empty when neither is set.
  bool rootMissing = false;
  std::string rootPath;
  // The last request as it went out (scheme, host, port and target), and libcurl's words
  // for why its transfer failed (empty when it did not).
  std::string requestUrl;
  std::string transferError;
  int tunnelRefusal = 0;  // the status with which a proxy refused an https tunnel
  // The first argument (1 = the first) that is not valid UTF-8, 0 when all are.
  int unreadableArgument = 0;
  // A ZEMLIK_CLOCK that is no time, which kept the run from starting.
  bool unreadableClock = false;
  std::string clockValue;
  // A URL that InternetCrackUrlW refused (empty for an empty one).
  bool urlRefused = false;
  std::string refusedUrl;
};

// What was seen so far. Safe from any thread.
HostFailure LastHostFailure();

}  // namespace platform

#endif  // !_WIN32
