// The trace sink: the system's debugger output, and standard error on request.
// Win32 code only.
#include "platform/trace.h"

#include <cstdlib>

#include "platform/win32/console.h"

namespace platform {

void TraceOutputDebugStringW(LPCWSTR text) {
  ::OutputDebugStringW(text);
  if (std::getenv("ZEMLIK_TRACE") == nullptr) return;
  WriteStandard(STD_ERROR_HANDLE, text, L"\n");
}

}  // namespace platform
