// The trace sink: the system's debugger output, and standard error on request.
// Win32 code only.
#include "platform/trace.h"

#include <string>

#include "platform/win32/console.h"

namespace platform {

void TraceOutputDebugStringW(LPCWSTR text) {
  ::OutputDebugStringW(text);
  if (!TraceMirrored()) return;
  WriteStandard(STD_ERROR_HANDLE, MaskPasswords(std::wstring_view(text)).c_str(), L"\n");
}

}  // namespace platform
