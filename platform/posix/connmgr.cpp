// The simulated connection manager: generic POSIX code only.
//
// A connection is a waitable object with a status queue (common/connmgr_queue.h)
// under the waitables' lock; the release call stops and joins its script.
#include "platform/connmgr.h"

#include <memory>
#include <mutex>
#include <set>

#include "platform/common/connmgr_manager.h"
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
  established->Start(script);
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
