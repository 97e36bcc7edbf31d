// The failure seam in front of the system's LocalAlloc: Win32 code only.
#include "platform/memory.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/win32/console.h"

#undef LocalAlloc

namespace {

struct Seam {
  std::atomic<unsigned long> count{0};
  std::atomic<unsigned long> failAt{0};
};

void PrintCount();

// Read once, at the first use or at static initialisation, whichever comes
// first, so the environment governs every allocation of the process. Never
// destroyed: threads still running at exit may allocate.
Seam& TheSeam() {
  static Seam* seam = [] {
    auto* s = new Seam;
    if (const char* failAt = std::getenv("ZEMLIK_ALLOC_FAIL")) {
      s->failAt = std::strtoul(failAt, nullptr, 10);
    }
    if (std::getenv("ZEMLIK_ALLOC_COUNT") != nullptr) std::atexit(PrintCount);
    return s;
  }();
  return *seam;
}

void PrintCount() {
  const std::wstring line = L"allocations: " + std::to_wstring(TheSeam().count.load());
  platform::WriteStandard(STD_ERROR_HANDLE, line.c_str(), L"\n");
}

[[maybe_unused]] const bool kSeamReadAtStart = (TheSeam(), true);

}  // namespace

namespace platform {

HLOCAL CountedLocalAlloc(UINT flags, SIZE_T bytes) {
  Seam& seam = TheSeam();
  unsigned long number = seam.count.fetch_add(1) + 1;
  if (number == seam.failAt.load()) return nullptr;
  return ::LocalAlloc(flags, bytes);
}

void SetAllocationFailureForTesting(unsigned long failAt) { TheSeam().failAt = failAt; }

unsigned long AllocationCountForTesting() { return TheSeam().count.load(); }

void ResetAllocationCountForTesting() { TheSeam().count = 0; }

}  // namespace platform
