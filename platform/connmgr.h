// The connection manager: map a URL to a destination network, establish a
// connection to it, read its status, ask its proxy provider, release it.
// Simulated on this host: every URL maps to one network and the connection is
// reported up (0x10) at once, unless ZEMLIK_CONNMGR scripts otherwise:
// comma-separated items played in order, a status ("0x40", "16"), a pause
// ("1500ms"), or "refuse" as the first item (the establish call fails). After the
// last item no further status change is reported.
#pragma once

#include "platform/win32.h"

// Windows has no connection manager: it is simulated there too, in the same way.
// Its LPARAM is pointer-sized, so the record below keeps the device's 32 bits.
#if !defined(_WIN32)
using LPARAM = std::uint32_t;
using ULONG = std::uint32_t;
#endif

constexpr DWORD CONNMGR_PARAM_GUIDDESTNET = 0x1;
constexpr DWORD CONNMGR_FLAG_PROXY_HTTP = 0x1;
constexpr DWORD CONNMGR_PRIORITY_USERINTERACTIVE = 0x08000;

constexpr DWORD CONNMGR_STATUS_UNKNOWN = 0x00;
constexpr DWORD CONNMGR_STATUS_CONNECTED = 0x10;
constexpr DWORD CONNMGR_STATUS_DISCONNECTED = 0x20;
constexpr DWORD CONNMGR_STATUS_WAITINGCONNECTION = 0x40;

// The request record, 64 bytes as on the device: the window handle and the
// message parameter are 32-bit fields there, and so they are here.
struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  DWORD hWnd;
  UINT uMsg;
  std::uint32_t lParam;
  ULONG ulMaxCost;
  ULONG ulMinRcvBw;
  ULONG ulMaxConnLatency;
};
static_assert(sizeof(CONNMGR_CONNECTIONINFO) == 64);
static_assert(offsetof(CONNMGR_CONNECTIONINFO, guidDestNet) == 24);

constexpr SIZE_T CMPROXY_PROXYSERVER_MAXSIZE = 256;
constexpr SIZE_T CMPROXY_USERNAME_MAXSIZE = 32;
constexpr SIZE_T CMPROXY_PASSWORD_MAXSIZE = 32;
constexpr SIZE_T CMPROXY_PROXYOVERRIDE_MAXSIZE = 64;
constexpr SIZE_T CMPROXY_EXTRAINFO_MAXSIZE = 256;

// The proxy provider's record, 1288 bytes. szProxyServer holds "host:port".
struct PROXY_CONFIG {
  DWORD dwType;  // CONNMGR_FLAG_PROXY_HTTP for an HTTP proxy
  BOOL dwEnable;
  WCHAR szProxyServer[CMPROXY_PROXYSERVER_MAXSIZE];
  WCHAR szUsername[CMPROXY_USERNAME_MAXSIZE];
  WCHAR szPassword[CMPROXY_PASSWORD_MAXSIZE];
  WCHAR szProxyOverride[CMPROXY_PROXYOVERRIDE_MAXSIZE];
  WCHAR szExtraInfo[CMPROXY_EXTRAINFO_MAXSIZE];
};
static_assert(sizeof(PROXY_CONFIG) == 1288);
static_assert(offsetof(PROXY_CONFIG, szUsername) == 520);
static_assert(offsetof(PROXY_CONFIG, szPassword) == 584);

// {AF96B0BD-A481-482C-A094-A8448767A0C0}: the proxy provider.
inline constexpr GUID IID_ConnPrv_IProxyExtension = {
    0xAF96B0BD, 0xA481, 0x482C, {0xA0, 0x94, 0xA8, 0x44, 0x87, 0x67, 0xA0, 0xC0}};
// {436EF144-B4FB-4863-A041-8F905A62C572}: the one network every URL maps to.
inline constexpr GUID IID_DestNetInternet = {
    0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};

// Writes the destination network of `url`; `index`, when given, receives 0.
HRESULT ConnMgrMapURL(LPCWSTR url, GUID* destination, DWORD* index);
// Returns at once. *connection can be waited on: it is signalled while status
// changes are waiting to be read, and each status read takes the oldest one.
// A negative result (a refusing script) leaves *connection null.
HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* request, HANDLE* connection);
// The oldest unread status change, or the current status when none is waiting
// (CONNMGR_STATUS_UNKNOWN before the first).
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
// Only the proxy provider is known, with messages 0, 0 and a PROXY_CONFIG of its
// size: it answers type CONNMGR_FLAG_PROXY_HTTP and the proxy's "host:port"
// when http_proxy, HTTP_PROXY, all_proxy or ALL_PROXY names one, and fails
// otherwise. Nothing else of the record is written.
HRESULT ConnMgrProviderMessage(HANDLE connection, const GUID* provider, DWORD* index,
                               DWORD message1, DWORD message2, BYTE* params, ULONG paramsSize);
// Ends the script of the connection and closes its handle. `cache` is recorded
// for the test seam and otherwise unused.
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);

namespace platform {

// One step of a connection's script.
struct ConnectionScriptItem {
  enum Kind { kStatus, kPause } kind;
  DWORD value;  // the status, or the pause in milliseconds
};

constexpr SIZE_T kConnectionScriptCapacity = 32;

struct ConnectionScript {
  bool refuse;  // the establish call fails
  SIZE_T count;
  ConnectionScriptItem items[kConnectionScriptCapacity];
};

// Test seam: answers the calls in place of the environment. The handle
// mechanics (queue, signalling, script playing) stay the layer's own. Each
// method has the environment's behaviour as its default; override what a test
// needs. Called on the thread that makes the call, without any lock held.
class ConnectionManager {
 public:
  virtual ~ConnectionManager() = default;
  // The map call's answer: S_OK and IID_DestNetInternet.
  virtual HRESULT MapUrl(LPCWSTR url, GUID* destination);
  // The establish call's answer: the script to play (ZEMLIK_CONNMGR, or one
  // status 0x10). May block to hold the caller back. A failure result or a
  // script with `refuse` set fails the call (E_FAIL for the latter).
  virtual HRESULT Establish(const CONNMGR_CONNECTIONINFO& request, ConnectionScript* script);
  // Sees each status about to be returned by a status read; a negative result
  // fails the read instead.
  virtual HRESULT Status(DWORD status);
  // The proxy provider's answer, into a record the caller has already filled.
  virtual HRESULT ProxyConfig(PROXY_CONFIG* config);
  // The cache value of a release call.
  virtual void Released(LONG cache) {}
};

// Installs `manager` (not owned); null restores the environment's behaviour.
void SetConnectionManagerForTesting(ConnectionManager* manager);

// Reports `status` on every connection that is established and not yet
// released, as a script item would. Returns how many there were.
int PostConnectionStatusForTesting(DWORD status);

}  // namespace platform
