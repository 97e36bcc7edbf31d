// The simulated connection manager's handles on Windows, which has none: Win32
// code only. The entry calls are shared (common/connmgr_entry.cpp).
//
// A connection's handle is a real auto-reset event, so the program waits on it
// with the system's WaitForMultipleObjects; the event is the signal of the
// connection's status queue (common/connmgr_queue.h). The release call stops
// and joins the connection's script.
#include "platform/connmgr.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/common/connmgr_entry.h"
#include "platform/common/connmgr_queue.h"

namespace platform {
namespace {

class Connection : public StatusQueue {
 public:
  explicit Connection(HANDLE event) : event_(event) {}

  ~Connection() override {
    StopScript();
    CloseHandle(event_);
  }

  HANDLE event() const { return event_; }

 private:
  void SetSignalled(bool unread) override {
    if (unread) {
      SetEvent(event_);
    } else {
      ResetEvent(event_);
    }
  }

  const HANDLE event_;
};

// Every connection between its establish and its release, by handle. Never
// destroyed: threads may outlive main().
struct Registry {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<Connection>> live;
};

Registry& Connections() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

int PostConnectionStatusForTesting(DWORD status) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto& [handle, connection] : registry.live) connection->Post(status);
  return static_cast<int>(registry.live.size());
}

HRESULT OpenConnection(const ConnectionScript& script, HANDLE* handle) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return E_OUTOFMEMORY;
  auto established = std::make_shared<Connection>(event);
  established->Start(script);
  {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.emplace(event, std::move(established));
  }
  *handle = event;
  return S_OK;
}

std::shared_ptr<StatusQueue> FindConnection(HANDLE handle) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(handle);
  if (it == registry.live.end()) return nullptr;
  return it->second;
}

bool CloseConnection(HANDLE handle) {
  std::shared_ptr<Connection> found;
  {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.live.find(handle);
    if (it == registry.live.end()) return false;
    found = std::move(it->second);
    registry.live.erase(it);
  }
  // The event closes with the last reference: a status read running on another
  // thread keeps it open until it is done.
  found->StopScript();
  return true;
}

}  // namespace platform
