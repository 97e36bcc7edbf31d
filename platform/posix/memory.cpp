// The plain allocator behind the failure seam (common/memory_seam.cpp): generic
// POSIX code only.
#include "platform/memory.h"

#include <cstdio>
#include <cstdlib>

#include "platform/common/memory_seam.h"
#include "platform/posix/host_failure_notes.h"

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  // malloc(0) may return null; a zero-byte block is still a distinct block.
  if (bytes == 0) bytes = 1;
  HLOCAL block = nullptr;
  if (!platform::AllocationFails()) {
    block = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, bytes) : std::malloc(bytes);
  }
  if (block == nullptr) platform::NoteAllocationFailure();
  return block;
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

namespace platform {

void PrintAllocationCount(unsigned long count) {
  std::fprintf(stderr, "allocations: %lu\n", count);
  std::fflush(stderr);
}

}  // namespace platform
