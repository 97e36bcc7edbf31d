// The allocation-failure seam that both layers put in front of their allocator
// (platform/memory.h). Internal to the layer.
#pragma once

namespace platform {

// Numbers one allocation; true when it is the one the seam is set to fail.
bool AllocationFails();

// Writes "allocations: <count>" and a line end to standard error: each layer's
// own, called at exit when ZEMLIK_ALLOC_COUNT is set.
void PrintAllocationCount(unsigned long count);

}  // namespace platform
