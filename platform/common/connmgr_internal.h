// What the POSIX and Win32 connection managers share, and what each side gives the shared
// code. Internal to the layer.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/connmgr.h"

namespace platform {

// A connection's status changes and its script.
//
// Changes wait in a queue until a status read takes them, so a reader that waits and reads in
// turn sees every change once, in order; the connection's waitable object is signalled exactly
// while changes are left unread.
class StatusQueue {
 public:
  // The queue guards itself with a lock of its own, or with `lock`, the one that also guards
  // the waitable object's state.
  StatusQueue() : lock_(ownLock_) {}
  explicit StatusQueue(std::mutex& lock) : lock_(lock) {}
  virtual ~StatusQueue() = default;
  StatusQueue(const StatusQueue&) = delete;
  StatusQueue& operator=(const StatusQueue&) = delete;

  void Post(DWORD status);
  // The oldest unread change, else the current status.
  DWORD Take();
  // Queues the script's leading statuses before it returns; whatever follows its first pause is
  // played on a thread of the queue's own.
  void Start(const ConnectionScript& script);
  // Stops and joins that thread. A derived destructor calls it first, while SetSignalled still
  // works.
  void StopScript();

 protected:
  // Sets the waitable object signalled, or not; called with the lock held.
  virtual void SetSignalled(bool unread) = 0;

 private:
  void Play(SIZE_T first);

  std::mutex ownLock_;
  std::mutex& lock_;
  std::deque<DWORD> pending_;               // guarded by lock_
  DWORD current_ = CONNMGR_STATUS_UNKNOWN;  // guarded by lock_

  ConnectionScript script_{};
  std::thread thread_;
  std::mutex scriptMutex_;
  std::condition_variable scriptChanged_;
  bool stopping_ = false;  // guarded by scriptMutex_
};

// The manager installed for testing, else the environment's (never destroyed: threads may
// outlive main()).
ConnectionManager& CurrentConnectionManager();

// Each side's: a new connection, not yet started, and in *handle the handle the program waits
// on; null, with *handle untouched, when none can be made.
std::shared_ptr<StatusQueue> NewConnection(HANDLE* handle);

// Each side's: the release call's last step, once the connection is out of the registry and
// its script is stopped.
void CloseConnectionHandle(HANDLE handle);

}  // namespace platform
