// The handle table and the waitables' shared lock: generic POSIX code only.
#include "platform/posix/object.h"

#include <cstdint>
#include <unordered_map>

namespace platform {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::uintptr_t next = 0x100;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
};

// Never destroyed: threads still running at process exit may close handles.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

struct WaitState {
  std::mutex mutex;
  std::condition_variable changed;
};

WaitState& Waits() {
  static WaitState* state = new WaitState;
  return *state;
}

}  // namespace

HANDLE NewHandle(std::shared_ptr<Object> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> FindHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) return nullptr;
  return it->second;
}

namespace {

// `anyObject` false: only an object that allows CloseHandle.
bool Unregister(HANDLE handle, bool anyObject) {
  std::shared_ptr<Object> object;  // released after the table's lock
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) return false;
  if (!anyObject && !it->second->ClosesWithCloseHandle()) return false;
  object = std::move(it->second);
  table.objects.erase(it);
  return true;
}

}  // namespace

bool CloseObjectHandle(HANDLE handle) { return Unregister(handle, true); }

std::mutex& WaitLock() { return Waits().mutex; }

std::condition_variable& WaitChanged() { return Waits().changed; }

void Waitable::Signal() {
  std::lock_guard<std::mutex> lock(WaitLock());
  SignalLocked();
}

void Waitable::SignalLocked() {
  signalled_ = true;
  WaitChanged().notify_all();
}

bool Waitable::TryAcquireLocked() {
  if (!signalled_) return false;
  if (!manualReset_) signalled_ = false;
  return true;
}

void Waitable::Reset() {
  std::lock_guard<std::mutex> lock(WaitLock());
  signalled_ = false;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) { return platform::Unregister(handle, false) ? TRUE : FALSE; }

namespace {
thread_local DWORD lastError = 0;
}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }
