// The simulated connection manager's handles: generic POSIX code only. The
// entry calls are shared (common/connmgr_entry.cpp).
//
// A connection is a waitable object with a status queue (common/connmgr_queue.h)
// under the waitables' lock; the release call stops and joins its script.
#include "platform/connmgr.h"

#include <memory>
#include <mutex>
#include <set>

#include "platform/common/connmgr_entry.h"
#include "platform/common/connmgr_queue.h"
#include "platform/posix/object.h"

namespace platform {
namespace {

class Connection;

// Every connection between its establish and its release, for
// PostConnectionStatusForTesting. Never destroyed: threads may outlive main().
struct Registry {
  std::mutex mutex;
  std::set<Connection*> live;
};

Registry& Connections() {
  static Registry* registry = new Registry;
  return *registry;
}

class Connection : public Waitable, public StatusQueue {
 public:
  Connection() : Waitable(false, false), StatusQueue(WaitLock()) {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.insert(this);
  }

  ~Connection() override {
    StopScript();
    Unregister();
  }

  void Unregister() {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.erase(this);
  }

 private:
  void SetSignalled(bool unread) override {
    if (unread) {
      SignalLocked();
    } else {
      TryAcquireLocked();
    }
  }
};

}  // namespace

int PostConnectionStatusForTesting(DWORD status) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (Connection* connection : registry.live) connection->Post(status);
  return static_cast<int>(registry.live.size());
}

HRESULT OpenConnection(const ConnectionScript& script, HANDLE* handle) {
  auto established = std::make_shared<Connection>();
  established->Start(script);
  *handle = NewHandle(std::move(established));
  return S_OK;
}

std::shared_ptr<StatusQueue> FindConnection(HANDLE handle) {
  return FindHandleAs<Connection>(handle);
}

bool CloseConnection(HANDLE handle) {
  std::shared_ptr<Connection> found = FindHandleAs<Connection>(handle);
  if (found == nullptr) return false;
  found->StopScript();
  found->Unregister();
  CloseObjectHandle(handle);
  return true;
}

}  // namespace platform
