// The connection manager's script syntax and the environment's answers: portable
// code shared by the POSIX and Win32 layers.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/common/connmgr_internal.h"
#include "platform/connmgr.h"

namespace platform {
namespace {

std::atomic<ConnectionManager*> g_manager{nullptr};

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

// Reads ZEMLIK_CONNMGR syntax. Blanks around an item are ignored; statuses are decimal or
// 0x-hexadecimal, 32-bit; pauses are decimal milliseconds followed by "ms". False for anything
// else (then *script is not to be used).
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
  // A port follows the last ':', unless an IPv6 address's ']' stands behind it.
  const std::string_view host(p, static_cast<SIZE_T>(end - p));
  const SIZE_T last = host.find_last_of(":]");
  const bool hasPort = last != host.npos && host[last] == ':';
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

ConnectionManager& CurrentConnectionManager() {
  if (ConnectionManager* installed = g_manager.load()) return *installed;
  static ConnectionManager* environment = new ConnectionManager;
  return *environment;
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

}  // namespace platform
