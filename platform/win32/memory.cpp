// The failure seam (common/memory_seam.cpp) in front of the system's LocalAlloc:
// Win32 code only.
#include "platform/memory.h"

#include <string>

#include "platform/common/memory_seam.h"
#include "platform/win32/console.h"

namespace platform {

HLOCAL CountedLocalAlloc(UINT flags, SIZE_T bytes) {
  if (AllocationFails()) return nullptr;
  return ::LocalAlloc(flags, bytes);
}

void PrintAllocationCount(unsigned long count) {
  const std::wstring line = L"allocations: " + std::to_wstring(count);
  WriteStandard(STD_ERROR_HANDLE, line.c_str(), L"\n");
}

}  // namespace platform
