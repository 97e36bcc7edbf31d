// Events, threads and waits: generic POSIX code only.
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/object.h"

namespace {

using platform::Waitable;

class Event : public Waitable {
 public:
  using Waitable::Waitable;
};

// Signalled (manual reset) when the thread's routine has returned.
class Thread : public Waitable {
 public:
  Thread() : Waitable(true, false) {}
};

constexpr DWORD kMaximumWaitObjects = 64;

}  // namespace

HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name) {
  if (attributes != nullptr || name != nullptr) return nullptr;
  return platform::NewHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
  auto target = platform::FindHandleAs<Event>(event);
  if (target == nullptr) return FALSE;
  target->Signal();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto target = platform::FindHandleAs<Event>(event);
  if (target == nullptr) return FALSE;
  target->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > kMaximumWaitObjects || handles == nullptr || waitAll != FALSE) {
    return WAIT_FAILED;
  }
  // Held for the whole wait, so a handle closed meanwhile stays waitable.
  std::vector<std::shared_ptr<Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    objects.push_back(platform::FindHandleAs<Waitable>(handles[i]));
    if (objects.back() == nullptr) return WAIT_FAILED;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(platform::WaitLock());
  // An object signalled as the time runs out still satisfies the wait.
  for (bool timedOut = false;;) {
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->TryAcquireLocked()) return WAIT_OBJECT_0 + i;
    }
    if (timedOut) return WAIT_TIMEOUT;
    if (milliseconds == INFINITE) {
      platform::WaitChanged().wait(lock);
    } else {
      timedOut = platform::WaitChanged().wait_until(lock, deadline) == std::cv_status::timeout;
    }
  }
}

HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
  if (startAddress == nullptr || creationFlags != 0) return nullptr;
  auto thread = std::make_shared<Thread>();
  // The thread holds its own reference: its handle may be closed while it runs.
  try {
    std::thread([thread, startAddress, parameter] {
      startAddress(parameter);
      thread->Signal();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  static std::atomic<DWORD> nextId{1};
  if (threadId != nullptr) *threadId = nextId.fetch_add(1);
  return platform::NewHandle(std::move(thread));
}

void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
