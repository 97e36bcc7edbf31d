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

std::atomic<ConnectionManager*> g_manager{nullptr};

ConnectionManager& Manager() {
  if (ConnectionManager* installed = g_manager.load()) return *installed;
  static ConnectionManager* environment = new ConnectionManager;
  return *environment;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const char* SkipBlanks(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

// Reads one unsigned 32-bit number in `base` from [p, end); false on anything
// else, an empty text or an overflow.
bool ReadNumber(const char* p, const char* end, unsigned base, DWORD* value) {
  if (p == end) return false;
  std::uint64_t result = 0;
  for (; p < end; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<DWORD>(result);
  return true;
}

bool ParseItem(const char* begin, const char* end, bool first, ConnectionScript* script) {
  begin = SkipBlanks(begin);
  while (end > begin && end[-1] == ' ') --end;
  const SIZE_T length = static_cast<SIZE_T>(end - begin);
  if (length == 6 && std::memcmp(begin, "refuse", 6) == 0) {
    if (!first) return false;
    script->refuse = true;
    return true;
  }
  if (script->count == kConnectionScriptCapacity) return false;
  ConnectionScriptItem& item = script->items[script->count];
  if (length > 2 && std::memcmp(end - 2, "ms", 2) == 0) {
    item.kind = ConnectionScriptItem::kPause;
    if (!ReadNumber(begin, end - 2, 10, &item.value)) return false;
  } else if (length > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
    item.kind = ConnectionScriptItem::kStatus;
    if (!ReadNumber(begin + 2, end, 16, &item.value)) return false;
  } else {
    item.kind = ConnectionScriptItem::kStatus;
    if (!ReadNumber(begin, end, 10, &item.value)) return false;
  }
  ++script->count;
  return true;
}

// "host:port" of a proxy URL ("http://user:pw@host:port/"), 1080 when it names
// no port (as libcurl assumes). False when there is no host or it does not fit.
bool ProxyServerText(const char* value, WCHAR* out, SIZE_T capacity) {
  const char* p = std::strstr(value, "://");
  p = p != nullptr ? p + 3 : value;
  const char* end = p + std::strcspn(p, "/?#");
  for (const char* at = p; at < end; ++at) {
    if (*at == '@') p = at + 1;
  }
  if (p == end) return false;
  const char* closingBracket = nullptr;
  for (const char* q = p; q < end; ++q) {
    if (*q == ']') closingBracket = q;
  }
  bool hasPort = false;
  for (const char* q = closingBracket != nullptr ? closingBracket : p; q < end; ++q) {
    if (*q == ':') hasPort = true;
  }
  static constexpr char kDefaultPort[] = ":1080";
  const SIZE_T length = static_cast<SIZE_T>(end - p) + (hasPort ? 0 : sizeof(kDefaultPort) - 1);
  if (length + 1 > capacity) return false;
  SIZE_T n = 0;
  for (const char* q = p; q < end; ++q) {
    if (static_cast<unsigned char>(*q) >= 0x80) return false;
    out[n++] = static_cast<WCHAR>(*q);
  }
  if (!hasPort) {
    for (const char* q = kDefaultPort; *q != 0; ++q) out[n++] = static_cast<WCHAR>(*q);
  }
  out[n] = 0;
  return true;
}

}  // namespace

bool ParseConnectionScript(const char* text, ConnectionScript* script) {
  *script = ConnectionScript{};
  const char* begin = text;
  for (bool first = true;; first = false) {
    const char* end = begin + std::strcspn(begin, ",");
    if (!ParseItem(begin, end, first, script)) return false;
    if (*end == 0) return true;
    begin = end + 1;
  }
}

HRESULT ConnectionManager::MapUrl(LPCWSTR url, GUID* destination) {
  *destination = IID_DestNetInternet;
  return S_OK;
}

HRESULT ConnectionManager::Establish(const CONNMGR_CONNECTIONINFO& request,
                                     ConnectionScript* script) {
  const char* text = std::getenv("ZEMLIK_CONNMGR");
  if (text == nullptr || *text == 0) {
    *script = ConnectionScript{};
    script->count = 1;
    script->items[0] = {ConnectionScriptItem::kStatus, CONNMGR_STATUS_CONNECTED};
    return S_OK;
  }
  return ParseConnectionScript(text, script) ? S_OK : E_INVALIDARG;
}

HRESULT ConnectionManager::Status(DWORD status) { return S_OK; }

HRESULT ConnectionManager::ProxyConfig(PROXY_CONFIG* config) {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) continue;
    if (!ProxyServerText(value, config->szProxyServer, CMPROXY_PROXYSERVER_MAXSIZE)) {
      return E_FAIL;
    }
    config->dwType = CONNMGR_FLAG_PROXY_HTTP;
    config->dwEnable = TRUE;
    return S_OK;
  }
  return E_FAIL;
}

void SetConnectionManagerForTesting(ConnectionManager* manager) { g_manager.store(manager); }

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
  return platform::Manager().MapUrl(url, destination);
}

HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* request, HANDLE* connection) {
  if (connection == nullptr) return E_INVALIDARG;
  *connection = nullptr;
  if (request == nullptr || request->cbSize != sizeof(CONNMGR_CONNECTIONINFO)) {
    return E_INVALIDARG;
  }
  platform::ConnectionScript script{};
  const HRESULT answer = platform::Manager().Establish(*request, &script);
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
  const HRESULT answer = platform::Manager().Status(taken);
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
  return platform::Manager().ProxyConfig(reinterpret_cast<PROXY_CONFIG*>(params));
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  std::shared_ptr<Connection> found = platform::FindHandleAs<Connection>(connection);
  if (found == nullptr) return E_INVALIDARG;
  found->StopScript();
  found->Unregister();
  platform::CloseObjectHandle(connection);
  platform::Manager().Released(cache);
  return S_OK;
}
