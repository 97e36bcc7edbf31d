// The plain allocator and its failure seam: generic POSIX code only.
#include "platform/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

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
  std::fprintf(stderr, "allocations: %lu\n", TheSeam().count.load());
  std::fflush(stderr);
}

[[maybe_unused]] const bool kSeamReadAtStart = (TheSeam(), true);

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  Seam& seam = TheSeam();
  unsigned long number = seam.count.fetch_add(1) + 1;
  if (number == seam.failAt.load()) return nullptr;
  // malloc(0) may return null; a zero-byte block is still a distinct block.
  if (bytes == 0) bytes = 1;
  return (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, bytes) : std::malloc(bytes);
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

namespace platform {

void SetAllocationFailureForTesting(unsigned long failAt) { TheSeam().failAt = failAt; }

unsigned long AllocationCountForTesting() { return TheSeam().count.load(); }

void ResetAllocationCountForTesting() { TheSeam().count = 0; }

}  // namespace platform
