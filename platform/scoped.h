// RAII holders for what the platform hands out, so every way out of a routine
// frees what the routine took. For the program's code only: it allocates through the
// routed LocalAlloc (platform/routes.h), so no file of the layer itself may include it.
#pragma once

#include <memory>

#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/win32.h"

namespace platform {

struct LocalDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// A block from LocalAlloc, freed with LocalFree. release() passes ownership on.
template <class T>
using LocalPtr = std::unique_ptr<T, LocalDeleter>;

// Allocates `count` elements of T (uninitialised, like LMEM_FIXED); empty on failure.
// Counted by the allocation seam on both sides.
template <class T>
LocalPtr<T[]> LocalAllocArray(SIZE_T count) {
  if (count > static_cast<SIZE_T>(-1) / sizeof(T)) return LocalPtr<T[]>();
  void* block = LocalAlloc(LMEM_FIXED, count * sizeof(T));
  return LocalPtr<T[]>(static_cast<T*>(block));
}

// A handle closed with CloseHandle; null and INVALID_HANDLE_VALUE count as empty.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace platform
