// The device-path rule for the layer's own use. Internal to platform/posix.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

// The host path of a program path, as the file calls resolve it, but without
// creating "\My Documents". False when there is no root or the path is empty.
bool ResolveWithoutCreating(LPCWSTR path, std::string* out);

}  // namespace platform
