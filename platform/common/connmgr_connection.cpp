// The connection manager's entry calls, a connection's status queue and the registry of
// connections: the same on both sides, which only make and close the handles
// (common/connmgr_internal.h).
#include <chrono>
#include <cstring>
#include <map>

#include "platform/common/connmgr_internal.h"
#include "platform/connmgr.h"

namespace platform {
namespace {

// Every connection between its establish and its release, by handle. Never destroyed:
// threads may outlive main().
struct Registry {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<StatusQueue>> live;
};

Registry& Connections() {
  static Registry* registry = new Registry;
  return *registry;
}

void Register(HANDLE handle, std::shared_ptr<StatusQueue> connection) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.live.emplace(handle, std::move(connection));
}

// The connection behind `handle`, or null when it is none or was released.
std::shared_ptr<StatusQueue> Find(HANDLE handle) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(handle);
  if (it == registry.live.end()) return nullptr;
  return it->second;
}

// Takes the connection behind `handle` out of the registry; null when it is none.
std::shared_ptr<StatusQueue> Unregister(HANDLE handle) {
  Registry& registry = Connections();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(handle);
  if (it == registry.live.end()) return nullptr;
  std::shared_ptr<StatusQueue> found = std::move(it->second);
  registry.live.erase(it);
  return found;
}

// Stops and joins the connection's script and closes its handle; false when `handle` is no
// connection. The connection goes with the last reference: a status read running on another
// thread keeps it until it is done.
bool Release(HANDLE handle) {
  std::shared_ptr<StatusQueue> found = Unregister(handle);
  if (found == nullptr) return false;
  found->StopScript();
  CloseConnectionHandle(handle);
  return true;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace

void StatusQueue::Post(DWORD status) {
  std::lock_guard<std::mutex> lock(lock_);
  pending_.push_back(status);
  current_ = status;
  SetSignalled(true);
}

DWORD StatusQueue::Take() {
  std::lock_guard<std::mutex> lock(lock_);
  if (pending_.empty()) return current_;
  const DWORD status = pending_.front();
  pending_.pop_front();
  SetSignalled(!pending_.empty());
  return status;
}

void StatusQueue::Start(const ConnectionScript& script) {
  SIZE_T played = 0;
  for (; played < script.count; ++played) {
    if (script.items[played].kind != ConnectionScriptItem::kStatus) break;
    Post(script.items[played].value);
  }
  if (played == script.count) return;
  script_ = script;
  thread_ = std::thread([this, played] { Play(played); });
}

void StatusQueue::StopScript() {
  {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    stopping_ = true;
  }
  scriptChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StatusQueue::Play(SIZE_T first) {
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
  HANDLE handle = nullptr;
  std::shared_ptr<platform::StatusQueue> made = platform::NewConnection(&handle);
  if (made == nullptr) return E_OUTOFMEMORY;
  made->Start(script);
  platform::Register(handle, std::move(made));
  *connection = handle;
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  std::shared_ptr<platform::StatusQueue> found = platform::Find(connection);
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
  if (!platform::Release(connection)) return E_INVALIDARG;
  platform::CurrentConnectionManager().Released(cache);
  return S_OK;
}
