// The trace sink, like a debugger's output window: with ZEMLIK_TRACE set in the
// environment each line also goes to standard error (UTF-8, line feed added).
#pragma once

#include "platform/win32.h"

void OutputDebugStringW(LPCWSTR text);
