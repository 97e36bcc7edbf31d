// The plain allocator. Every allocation of the program goes through it, so a
// test can count them and make exactly one of them fail.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)

namespace platform {
// The system's LocalAlloc behind the failure seam below.
HLOCAL CountedLocalAlloc(UINT flags, SIZE_T bytes);
}  // namespace platform

#else  // POSIX

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// Null when memory is short (or when the test seam says so).
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// Null on success, as in Win32. LocalFree(nullptr) is a no-op.
HLOCAL LocalFree(HLOCAL memory);

#endif  // _WIN32

namespace platform {

// Test seam. Allocations are numbered from 1 since the last reset (or process
// start), across all threads; with failAt = N the Nth fails (returns null) and
// the others succeed; 0 disables. Every process using the layer reads
// ZEMLIK_ALLOC_FAIL=N at start; with ZEMLIK_ALLOC_COUNT set it prints
// "allocations: <count>" to standard error at exit.
void SetAllocationFailureForTesting(unsigned long failAt);
unsigned long AllocationCountForTesting();
void ResetAllocationCountForTesting();

}  // namespace platform
