// The simulated connection manager on Windows, which has none: Win32 code only.
//
// A connection's handle is a real auto-reset event, so the program waits on it
// with the system's WaitForMultipleObjects; the event is the signal of the
// connection's status queue (common/connmgr_queue.h). The release call stops
// and joins the connection's script.
#include "platform/connmgr.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/common/connmgr_manager.h"
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

std::shared_ptr<Connection> Find(HANDLE handle) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(handle);
  return it == registry.live.end() ? nullptr : it->second;
}

}  // namespace

int PostConnectionStatusForTesting(DWORD status) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto& [handle, connection] : registry.live) connection->Post(status);
  return static_cast<int>(registry.live.size());
}

}  // namespace platform

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

  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return E_OUTOFMEMORY;
  auto established = std::make_shared<platform::Connection>(event);
  established->Start(script);
  {
    platform::Registry& registry = platform::Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.emplace(event, std::move(established));
  }
  *connection = event;
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  std::shared_ptr<platform::Connection> found = platform::Find(connection);
  if (found == nullptr || status == nullptr) return E_INVALIDARG;
  const DWORD taken = found->Take();
  const HRESULT answer = platform::CurrentConnectionManager().Status(taken);
  if (FAILED(answer)) return answer;
  *status = taken;
  return S_OK;
}

HRESULT ConnMgrProviderMessage(HANDLE connection, const GUID* provider, DWORD* index,
                               DWORD message1, DWORD message2, BYTE* params, ULONG paramsSize) {
  if (platform::Find(connection) == nullptr || provider == nullptr ||
      !platform::SameGuid(*provider, IID_ConnPrv_IProxyExtension) || params == nullptr ||
      paramsSize != sizeof(PROXY_CONFIG) || message1 != 0 || message2 != 0) {
    return E_INVALIDARG;
  }
  if (index != nullptr) *index = 0;
  return platform::CurrentConnectionManager().ProxyConfig(reinterpret_cast<PROXY_CONFIG*>(params));
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  std::shared_ptr<platform::Connection> found;
  {
    platform::Registry& registry = platform::Connections();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.live.find(connection);
    if (it == registry.live.end()) return E_INVALIDARG;
    found = std::move(it->second);
    registry.live.erase(it);
  }
  // The event closes with the last reference: a status read running on another
  // thread keeps it open until it is done.
  found->StopScript();
  found.reset();
  platform::CurrentConnectionManager().Released(cache);
  return S_OK;
}
