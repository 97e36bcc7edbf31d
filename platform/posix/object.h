// The objects behind the handles the layer hands out (files, events, threads,
// and the connection manager's and WinINet's own). Internal to platform/posix.
//
// A handle is a number registered in one process-wide table, never a pointer to
// the object, so a stale, bad or foreign handle is simply not found: every call
// given one fails (FALSE, WAIT_FAILED, ...) and nothing is dereferenced.
// The table holds one reference (std::shared_ptr) to each object; a call that
// looks a handle up holds another while it works, so closing a handle that
// another thread is using (writing, waiting on) is safe: the object is
// destroyed when the last reference goes, on whichever thread drops it, and
// never while the layer's lock is held.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32.h"

namespace platform {

class Object {
 public:
  virtual ~Object() = default;

  // False for a handle that only its service's own release call may close (WinINet's,
  // closed by InternetCloseHandle): CloseHandle refuses it as foreign, as Windows does.
  virtual bool ClosesWithCloseHandle() const { return true; }
};

// Registers `object` and returns its new handle (never null, never
// INVALID_HANDLE_VALUE, never reused while the process lives).
HANDLE NewHandle(std::shared_ptr<Object> object);

// The object behind `handle`, or null when it is not a live handle.
std::shared_ptr<Object> FindHandle(HANDLE handle);

// As FindHandle, and null as well when the object is not a T.
template <class T>
std::shared_ptr<T> FindHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

// Unregisters `handle` and drops the table's reference. False when it was not
// a live handle. CloseHandle is this for the objects that allow it; a service's
// own release call (the connection manager's, InternetCloseHandle) calls it for
// its own objects after finding them.
bool CloseObjectHandle(HANDLE handle);

// Something WaitForSingleObject and WaitForMultipleObjects can wait on.
//
// All waitables share one process-wide lock and condition variable: Signal and
// Reset take the lock, change the state and wake every waiter. A wait is
// satisfied by a signalled object; an auto-reset one (manualReset false) is
// reset by the wait that it satisfies, so each Signal releases exactly one wait
// (or, with nobody waiting, the next one). A manual-reset one stays signalled
// until Reset.
//
// Events are Waitables (CreateEventW). Another service that needs a handle to
// wait on derives from Waitable, for example the connection manager's
// connection: construct it with manualReset false, register it with NewHandle,
// call Signal() at each status change (the agent's wait consumes it), keep the
// status itself under the service's own lock, and close it with
// CloseObjectHandle from the release call. A derived destructor may stop and
// join the service's own threads: it never runs under the waitables' lock.
class Waitable : public Object {
 public:
  Waitable(bool manualReset, bool initiallySignalled)
      : manualReset_(manualReset), signalled_(initiallySignalled) {}

  void Signal();
  void Reset();

  // With WaitLock() held: SignalLocked sets the state and wakes the waiters,
  // so a caller can change its own state and signal in one step; TryAcquire is
  // the wait's test (true when signalled, resetting an auto-reset object).
  void SignalLocked();
  bool TryAcquireLocked();

 private:
  const bool manualReset_;
  bool signalled_;  // guarded by WaitLock()
};

// The lock and condition variable of all waitables. Both live until the
// process ends (never destroyed), so a thread that outlives main() can still
// use them.
std::mutex& WaitLock();
std::condition_variable& WaitChanged();

}  // namespace platform
