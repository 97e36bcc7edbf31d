// The simulated connection manager: generic POSIX code only.
//
// A connection is a waitable object whose status changes wait in a queue until
// a status read takes them, so a reader that waits and reads in turn sees every
// change once, in order. The script's leading statuses are queued before the
// establish call returns; whatever follows its first pause is played by a
// thread of the connection, which the release call stops and joins.
#include "platform/connmgr.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/common/connmgr_manager.h"
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

class Connection : public Waitable {
 public:
  Connection() : Waitable(false, false) {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.insert(this);
  }

  ~Connection() override {
    StopScript();
    Unregister();
  }

  void Post(DWORD status) {
    std::lock_guard<std::mutex> lock(WaitLock());
    pending_.push_back(status);
    current_ = status;
    SignalLocked();
  }

  // The oldest unread change, else the current status. The object stays
  // signalled exactly while changes are left unread.
  DWORD Take() {
    std::lock_guard<std::mutex> lock(WaitLock());
    if (pending_.empty()) return current_;
    const DWORD status = pending_.front();
    pending_.pop_front();
    if (pending_.empty()) {
      TryAcquireLocked();
    } else {
      SignalLocked();
    }
    return status;
  }

  // Plays items [first, count) of `script` on the connection's own thread.
  void PlayLater(const ConnectionScript& script, SIZE_T first) {
    script_ = script;
    thread_ = std::thread([this, first] { Play(first); });
  }

  void StopScript() {
    {
      std::lock_guard<std::mutex> lock(scriptMutex_);
      stopping_ = true;
    }
    scriptChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Unregister() {
    Registry& registry = Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.erase(this);
  }

 private:
  void Play(SIZE_T first) {
    for (SIZE_T i = first; i < script_.count; ++i) {
      const ConnectionScriptItem& item = script_.items[i];
      if (item.kind == ConnectionScriptItem::kStatus) {
        Post(item.value);
        continue;
      }
      std::unique_lock<std::mutex> lock(scriptMutex_);
      if (scriptChanged_.wait_for(lock, std::chrono::milliseconds(item.value),
                                  [this] { return stopping_; })) {
        return;
      }
    }
  }

  std::deque<DWORD> pending_;               // guarded by WaitLock()
  DWORD current_ = CONNMGR_STATUS_UNKNOWN;  // guarded by WaitLock()

  ConnectionScript script_{};
  std::thread thread_;
  std::mutex scriptMutex_;
  std::condition_variable scriptChanged_;
  bool stopping_ = false;  // guarded by scriptMutex_
};

}  // namespace

int PostConnectionStatusForTesting(DWORD status) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (Connection* connection : registry.live) connection->Post(status);
  return static_cast<int>(registry.live.size());
}

}  // namespace platform

using platform::Connection;

HRESULT ConnMgrMapURL(LPCWSTR url, GUID* destination, DWORD* index) {
  if (url == nullptr || destination == nullptr) return E_INVALIDARG;
  if (index != nullptr) *index = 0;
  return platform::CurrentConnectionManager().MapUrl(url, destination);
}

HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* request, HANDLE* connection) {
  if (connection == nullptr) return E_INVALIDARG;
  *connection = nullptr;
  if (request == nullptr || request->cbSize != sizeof(CONNMGR_CONNECTIONINFO)) {
    return E_INVALIDARG;
  }
  platform::ConnectionScript script{};
  const HRESULT answer = platform::CurrentConnectionManager().Establish(*request, &script);
  if (FAILED(answer)) return answer;
  if (script.refuse) return E_FAIL;

  auto established = std::make_shared<Connection>();
  SIZE_T played = 0;
  for (; played < script.count; ++played) {
    if (script.items[played].kind != platform::ConnectionScriptItem::kStatus) break;
    established->Post(script.items[played].value);
  }
  if (played < script.count) established->PlayLater(script, played);
  *connection = platform::NewHandle(std::move(established));
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  std::shared_ptr<Connection> found = platform::FindHandleAs<Connection>(connection);
  if (found == nullptr || status == nullptr) return E_INVALIDARG;
  const DWORD taken = found->Take();
  const HRESULT answer = platform::CurrentConnectionManager().Status(taken);
  if (FAILED(answer)) return answer;
  *status = taken;
  return S_OK;
}

HRESULT ConnMgrProviderMessage(HANDLE connection, const GUID* provider, DWORD* index,
                               DWORD message1, DWORD message2, BYTE* params, ULONG paramsSize) {
  if (platform::FindHandleAs<Connection>(connection) == nullptr || provider == nullptr ||
      !platform::SameGuid(*provider, IID_ConnPrv_IProxyExtension) || params == nullptr ||
      paramsSize != sizeof(PROXY_CONFIG) || message1 != 0 || message2 != 0) {
    return E_INVALIDARG;
  }
  if (index != nullptr) *index = 0;
  return platform::CurrentConnectionManager().ProxyConfig(reinterpret_cast<PROXY_CONFIG*>(params));
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  std::shared_ptr<Connection> found = platform::FindHandleAs<Connection>(connection);
  if (found == nullptr) return E_INVALIDARG;
  found->StopScript();
  found->Unregister();
  platform::CloseObjectHandle(connection);
  platform::CurrentConnectionManager().Released(cache);
  return S_OK;
}
