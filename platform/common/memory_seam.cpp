// The allocation seam both sides share: counting, and making one chosen allocation fail.
#include "platform/common/memory_seam.h"

#include <atomic>
#include <cstdlib>

#include "platform/memory.h"

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

void PrintCount() { platform::PrintAllocationCount(TheSeam().count.load()); }

[[maybe_unused]] const bool kSeamReadAtStart = (TheSeam(), true);

}  // namespace

namespace platform {

bool AllocationFails() {
  Seam& seam = TheSeam();
  unsigned long number = seam.count.fetch_add(1) + 1;
  return number == seam.failAt.load();
}

void SetAllocationFailureForTesting(unsigned long failAt) { TheSeam().failAt = failAt; }

unsigned long AllocationCountForTesting() { return TheSeam().count.load(); }

void ResetAllocationCountForTesting() { TheSeam().count = 0; }

}  // namespace platform
