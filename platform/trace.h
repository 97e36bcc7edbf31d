// The trace sink, like a debugger's output window: with ZEMLIK_TRACE set in the
// environment each line also goes to standard error (UTF-8, line feed added).
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)
namespace platform {
// The system's OutputDebugStringW, and standard error as above.
void TraceOutputDebugStringW(LPCWSTR text);
}  // namespace platform
#else
void OutputDebugStringW(LPCWSTR text);
#endif
