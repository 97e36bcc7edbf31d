// Text for standard output and error. Internal to platform/win32.
#pragma once

#include "platform/win32.h"

namespace platform {

// Writes `text` (null: nothing) and then `suffix` to STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE: as wide text to a console, else as UTF-8 bytes with no
// line-end translation, as the POSIX layer writes them.
void WriteStandard(DWORD stream, LPCWSTR text, LPCWSTR suffix);

}  // namespace platform
