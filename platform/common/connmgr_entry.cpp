// The connection manager's entry calls, the same on both sides; the handle
// mechanics are each side's own (common/connmgr_entry.h).
#include "platform/common/connmgr_entry.h"

#include "platform/common/connmgr_manager.h"
#include "platform/connmgr.h"

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
  return platform::OpenConnection(script, connection);
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  std::shared_ptr<platform::StatusQueue> found = platform::FindConnection(connection);
  if (found == nullptr || status == nullptr) return E_INVALIDARG;
  const DWORD taken = found->Take();
  const HRESULT answer = platform::CurrentConnectionManager().Status(taken);
  if (FAILED(answer)) return answer;
  *status = taken;
  return S_OK;
}

HRESULT ConnMgrProviderMessage(HANDLE connection, const GUID* provider, DWORD* index,
                               DWORD message1, DWORD message2, BYTE* params, ULONG paramsSize) {
  if (platform::FindConnection(connection) == nullptr || provider == nullptr ||
      !platform::SameGuid(*provider, IID_ConnPrv_IProxyExtension) || params == nullptr ||
      paramsSize != sizeof(PROXY_CONFIG) || message1 != 0 || message2 != 0) {
    return E_INVALIDARG;
  }
  if (index != nullptr) *index = 0;
  return platform::CurrentConnectionManager().ProxyConfig(reinterpret_cast<PROXY_CONFIG*>(params));
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  if (!platform::CloseConnection(connection)) return E_INVALIDARG;
  platform::CurrentConnectionManager().Released(cache);
  return S_OK;
}
