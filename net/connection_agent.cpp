#include "net/connection_agent.h"

#include "platform/memory.h"
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

ConnectionAgent::ConnectionAgent()
    : url(nullptr),
      proxyRequested(FALSE),
      connection(nullptr),
      cacheOnRelease(0),
      destNetwork{},
      lastStatus(0),
      stopEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      workerThread(nullptr),
      proxyFound(FALSE),
      proxyConfig{},
      liveWorkers(0) {}

ConnectionAgent::~ConnectionAgent() {
  StopEveryWorker();
  // A worker that is still running uses both; the process's end reclaims them.
  if (!WorkerEnded()) return;
  if (stopEvent != nullptr) {
    CloseHandle(stopEvent);
    stopEvent = nullptr;
  }
  LocalFree(url);
  url = nullptr;
}

void ConnectionAgent::StopEveryWorker() {
  Stop();
  for (DWORD waited = 0; !WorkerEnded() && stopEvent != nullptr && waited < kStopWaitMs;
       waited += kStrayPollMs) {
    SetEvent(stopEvent);
    Sleep(kStrayPollMs);
  }
}

bool ConnectionAgent::WorkerEnded() const { return liveWorkers.load() == 0; }

HRESULT ConnectionAgent::OnStatus(DWORD status) {
  if ((status & CONNMGR_STATUS_DISCONNECTED) != 0) {
    const bool disconnected = status == CONNMGR_STATUS_DISCONNECTED;
    const HRESULT result = disconnected ? OnDisconnected() : OnFailed();
    cacheOnRelease = disconnected ? 1 : 0;
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
                   static_cast<unsigned>(lastStatus));
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.lpFile = TEXT(":MSREMNET");
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
  return E_FAIL;
}

HRESULT ConnectionAgent::OnConnected() {
  QueryProxyConfig(connection);
  return 0;
}

HRESULT ConnectionAgent::OnDisconnected() { return E_FAIL; }

HRESULT ConnectionAgent::OnWaiting() { return 0; }

HRESULT ConnectionAgent::OnExit() { return 0; }

HRESULT ConnectionAgent::Start(LPCWSTR urlToMap, BOOL requestProxy) {
  const HRESULT mapped = MapUrl(urlToMap);
  proxyRequested = requestProxy;
  if (stopEvent == nullptr) return E_INVALIDARG;
  if (FAILED(mapped)) return mapped;
  // Two workers would share the connection fields.
  StopEveryWorker();
  if (!WorkerEnded()) return E_FAIL;
  liveWorkers.fetch_add(1);
  workerThread = CreateThread(nullptr, 0, WorkerThreadProc, this, 0, nullptr);
  if (workerThread == nullptr) {
    liveWorkers.fetch_sub(1);
    return E_FAIL;
  }
  return 0;
}

HRESULT ConnectionAgent::Stop() {
  if (workerThread != nullptr) {
    SetEvent(stopEvent);
    WaitForSingleObject(workerThread, kStopWaitMs);
    CloseHandle(workerThread);
    workerThread = nullptr;
  }
  return 0;
}

HRESULT ConnectionAgent::MapUrl(LPCWSTR urlToMap) {
  if (urlToMap != nullptr) {
    LocalFree(url);
    const SIZE_T length = wcslen(urlToMap);
    url = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(WCHAR)));
    if (url == nullptr) return E_OUTOFMEMORY;
    wcscpy(url, urlToMap);
  }
  return ConnMgrMapURL(url, &destNetwork, nullptr);
}

BOOL ConnectionAgent::QueryProxyConfig(HANDLE handle) {
  proxyFound = FALSE;
  Wipe(&proxyConfig, sizeof(proxyConfig));
  proxyConfig.dwType = CONNMGR_FLAG_PROXY_HTTP;
  const HRESULT answer =
      ConnMgrProviderMessage(handle, &IID_ConnPrv_IProxyExtension, nullptr, 0, 0,
                             reinterpret_cast<BYTE*>(&proxyConfig), sizeof(proxyConfig));
  if (SUCCEEDED(answer) && proxyConfig.dwType == CONNMGR_FLAG_PROXY_HTTP) {
    proxyFound = TRUE;
    Wipe(proxyConfig.szUsername, sizeof(proxyConfig.szUsername));
    Wipe(proxyConfig.szPassword, sizeof(proxyConfig.szPassword));
  }
  return proxyFound;
}

DWORD ConnectionAgent::RunWorker() {
  CONNMGR_CONNECTIONINFO request{};
  request.cbSize = sizeof(request);
  request.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  request.dwFlags = proxyRequested != FALSE ? CONNMGR_FLAG_PROXY_HTTP : 0;
  request.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  request.guidDestNet = destNetwork;

  if (FAILED(ConnMgrEstablishConnection(&request, &connection))) {
    // The display shows lastStatus as it stands: the refusal is not a status.
    OnFailed();
    cacheOnRelease = 0;
  } else {
    OnConnecting();
    // A stop request left from before this worker reached its loop is dropped.
    ResetEvent(stopEvent);
    const HANDLE waits[2] = {connection, stopEvent};
    for (;;) {
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ResetEvent(stopEvent);
        break;
      }
      DWORD status = 0;
      const HRESULT read = ConnMgrConnectionStatus(connection, &status);
      if (FAILED(read)) {
        lastStatus = static_cast<DWORD>(read);
        break;
      }
      lastStatus = status;
      if (OnStatus(status) != 0) break;
    }
  }
  OnExit();
  if (connection != nullptr) {
    ConnMgrReleaseConnection(connection, cacheOnRelease);
    connection = nullptr;
  }
  return lastStatus;
}

DWORD ConnectionAgent::WorkerThreadProc(LPVOID parameter) {
  ConnectionAgent* agent = static_cast<ConnectionAgent*>(parameter);
  const DWORD exitCode = agent->RunWorker();
  // The worker's last use of the agent: from here on it may be destroyed.
  agent->liveWorkers.fetch_sub(1);
  return exitCode;
}

ProxyConnectionAgent::~ProxyConnectionAgent() { StopEveryWorker(); }

HRESULT ProxyConnectionAgent::OnConnected() {
  QueryProxyConfig(connection);
  SetEvent(ConnectedEvent);
  return 0;
}
