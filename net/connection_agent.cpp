// The connection agent: a worker that asks for the data connection and watches its status.
#include "net/connection_agent.h"

#include "http/outcome.h"
#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/shell.h"
#include "platform/sync.h"
#include "platform/text.h"

HANDLE ConnectedEvent = nullptr;

ProxyConnectionAgent ProxyAgent;

namespace {

constexpr DWORD kStopWaitMs = 3000;
constexpr DWORD kStrayPollMs = 50;
constexpr SIZE_T kParametersLength = 260;

// Zeroes through a volatile pointer so that no optimiser drops the store.
void Wipe(void* memory, SIZE_T bytes) {
  volatile BYTE* p = static_cast<volatile BYTE*>(memory);
  while (bytes-- > 0) *p++ = 0;
}

}  // namespace

ConnectionAgent::ConnectionAgent() : stopEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ConnectionAgent::~ConnectionAgent() {
  StopEveryWorker();
  // A worker that is still running uses both; the process's end reclaims them.
  if (WorkerEnded()) return;
  stopEvent_.release();
  url_.release();
}

void ConnectionAgent::StopEveryWorker() {
  Stop();
  for (DWORD waited = 0; !WorkerEnded() && stopEvent_.valid() && waited < kStopWaitMs;
       waited += kStrayPollMs) {
    SetEvent(stopEvent_.get());
    Sleep(kStrayPollMs);
  }
}

bool ConnectionAgent::WorkerEnded() const { return liveWorkers_.load() == 0; }

HRESULT ConnectionAgent::OnStatus(DWORD status) {
  if ((status & CONNMGR_STATUS_DISCONNECTED) != 0) {
    const bool disconnected = status == CONNMGR_STATUS_DISCONNECTED;
    const HRESULT result = disconnected ? OnDisconnected() : OnFailed();
    cacheOnRelease_ = disconnected ? 1 : 0;
    return result;
  }
  if (status == CONNMGR_STATUS_CONNECTED) return OnConnected();
  if ((status & CONNMGR_STATUS_WAITINGCONNECTION) != 0) return OnWaiting();
  return 0;
}

HRESULT ConnectionAgent::OnConnecting() { return 0; }

HRESULT ConnectionAgent::OnFailed() {
  WCHAR parameters[kParametersLength];
  StringCchPrintfW(parameters, kParametersLength, TEXT("-CMERROR 0x%x -report"),
                   static_cast<unsigned>(lastStatus_));
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.lpFile = TEXT(":MSREMNET");
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
  return E_FAIL;
}

HRESULT ConnectionAgent::OnConnected() {
  QueryProxyConfig(connection_);
  return 0;
}

HRESULT ConnectionAgent::OnDisconnected() { return E_FAIL; }

HRESULT ConnectionAgent::OnWaiting() { return 0; }

HRESULT ConnectionAgent::OnExit() { return 0; }

HRESULT ConnectionAgent::Start(LPCWSTR urlToMap, BOOL requestProxy) {
  const HRESULT mapped = MapUrl(urlToMap);
  proxyRequested_ = requestProxy;
  if (!stopEvent_.valid()) return E_INVALIDARG;
  if (FAILED(mapped)) return mapped;
  // Two workers would share the connection fields.
  StopEveryWorker();
  if (!WorkerEnded()) return E_FAIL;
  liveWorkers_.fetch_add(1);
  workerThread_.reset(CreateThread(nullptr, 0, WorkerThreadProc, this, 0, nullptr));
  if (!workerThread_.valid()) {
    liveWorkers_.fetch_sub(1);
    return E_FAIL;
  }
  return 0;
}

HRESULT ConnectionAgent::Stop() {
  if (workerThread_.valid()) {
    SetEvent(stopEvent_.get());
    WaitForSingleObject(workerThread_.get(), kStopWaitMs);
    workerThread_.reset();
  }
  return 0;
}

HRESULT ConnectionAgent::MapUrl(LPCWSTR urlToMap) {
  if (urlToMap != nullptr) {
    url_.reset();
    url_ = platform::LocalAllocArray<WCHAR>(wcslen(urlToMap) + 1);
    if (!url_) return E_OUTOFMEMORY;
    wcscpy(url_.get(), urlToMap);
  }
  return ConnMgrMapURL(url_.get(), &destNetwork_, nullptr);
}

BOOL ConnectionAgent::QueryProxyConfig(HANDLE handle) {
  proxyFound_ = FALSE;
  Wipe(&proxyConfig_, sizeof(proxyConfig_));
  proxyConfig_.dwType = CONNMGR_FLAG_PROXY_HTTP;
  const HRESULT answer =
      ConnMgrProviderMessage(handle, &IID_ConnPrv_IProxyExtension, nullptr, 0, 0,
                             reinterpret_cast<BYTE*>(&proxyConfig_), sizeof(proxyConfig_));
  if (SUCCEEDED(answer) && proxyConfig_.dwType == CONNMGR_FLAG_PROXY_HTTP) {
    proxyFound_ = TRUE;
    Wipe(proxyConfig_.szUsername, sizeof(proxyConfig_.szUsername));
    Wipe(proxyConfig_.szPassword, sizeof(proxyConfig_.szPassword));
  }
  return proxyFound_;
}

DWORD ConnectionAgent::RunWorker() {
  CONNMGR_CONNECTIONINFO request{};
  request.cbSize = sizeof(request);
  request.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  request.dwFlags = proxyRequested_ != FALSE ? CONNMGR_FLAG_PROXY_HTTP : 0;
  request.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  request.guidDestNet = destNetwork_;

  if (FAILED(ConnMgrEstablishConnection(&request, &connection_))) {
    // The display shows lastStatus_ as it stands: the refusal is not a status.
    OnFailed();
    cacheOnRelease_ = 0;
  } else {
    OnConnecting();
    // A stop request left from before this worker reached its loop is dropped.
    ResetEvent(stopEvent_.get());
    const HANDLE waits[2] = {connection_, stopEvent_.get()};
    for (;;) {
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ResetEvent(stopEvent_.get());
        break;
      }
      DWORD status = 0;
      const HRESULT read = ConnMgrConnectionStatus(connection_, &status);
      lastStatus_ = FAILED(read) ? static_cast<DWORD>(read) : status;
      Outcome.connectionStatus = lastStatus_;
      if (FAILED(read)) break;
      if (OnStatus(status) != 0) break;
    }
  }
  OnExit();
  if (connection_ != nullptr) {
    ConnMgrReleaseConnection(connection_, cacheOnRelease_);
    connection_ = nullptr;
  }
  return lastStatus_;
}

DWORD ConnectionAgent::WorkerThreadProc(LPVOID parameter) {
  ConnectionAgent* agent = static_cast<ConnectionAgent*>(parameter);
  const DWORD exitCode = agent->RunWorker();
  // The worker's last use of the agent: from here on it may be destroyed.
  agent->liveWorkers_.fetch_sub(1);
  return exitCode;
}

ProxyConnectionAgent::~ProxyConnectionAgent() { StopEveryWorker(); }

HRESULT ProxyConnectionAgent::OnConnected() {
  const HRESULT result = ConnectionAgent::OnConnected();
  SetEvent(ConnectedEvent);
  return result;
}
