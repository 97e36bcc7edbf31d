// The device-path rule as one pure function, shared by the POSIX and Win32 file calls: where a
// program path lies on the host. Internal to the layer; each side reads the environment, makes
// the folder and calls the system.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

// How one side spells a host path.
struct DevicePathStyle {
  char separator;  // what a device path's backslashes become; trimmed off the root with '/'
  bool uncIsHost;  // a path that begins with two backslashes is a host path
};
inline constexpr DevicePathStyle kPosixPaths{'/', false};
inline constexpr DevicePathStyle kWin32Paths{'\\', true};

// What the rule makes of one program path.
template <class Char>
struct ResolvedPath {
  enum Kind {
    kEmpty,   // a null or empty path: there is nothing to resolve
    kNoRoot,  // a device path, but neither root is set: it lies nowhere
    kHost,    // any other path, used as it is
    kDevice,  // a device path under the root
  };
  Kind kind = kEmpty;
  std::basic_string<Char> path;  // kHost: as given; kDevice: under the root
  // For a device path in "\My Documents" (or naming it): that folder under the root, which the
  // side makes when it is missing; empty for any other path.
  std::basic_string<Char> folder;
  std::basic_string<Char> root;  // kDevice: the root it lies under, as the variable gives it
  bool ok() const { return kind == kHost || kind == kDevice; }
};

// A path that begins with a backslash is a device path, put under `root`, else `home` (null and
// empty count as unset), with the root's trailing separators trimmed. Defined for char (POSIX:
// the environment's bytes, kept as they are) and WCHAR.
template <class Char>
ResolvedPath<Char> ResolveDevicePath(const Char* path, const Char* root, const Char* home,
                                     const DevicePathStyle& style);

}  // namespace platform
