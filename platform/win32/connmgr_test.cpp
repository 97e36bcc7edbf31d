#include "platform/connmgr.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/http_fixture.h"

namespace {

CONNMGR_CONNECTIONINFO Request() {
  CONNMGR_CONNECTIONINFO request{};
  request.cbSize = sizeof request;
  request.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  request.guidDestNet = IID_DestNetInternet;
  return request;
}

// Waits on the connection with the system's wait, as the agent's worker does, and
// reads each status change until `count` were read or none came within 2 s.
std::vector<DWORD> Statuses(HANDLE connection, size_t count) {
  std::vector<DWORD> seen;
  while (seen.size() < count && WaitForSingleObject(connection, 2000) == WAIT_OBJECT_0) {
    DWORD status = 0;
    if (FAILED(ConnMgrConnectionStatus(connection, &status))) break;
    seen.push_back(status);
  }
  return seen;
}

TEST(ConnMgrTest, TheConnectionIsARealEventThatPlaysTheScript) {
  ScopedEnvVar script("ZEMLIK_CONNMGR", "0x40, 100ms, 0x11,0x10");
  CONNMGR_CONNECTIONINFO request = Request();
  HANDLE connection = nullptr;
  ASSERT_EQ(ConnMgrEstablishConnection(&request, &connection), S_OK);
  ASSERT_NE(connection, nullptr);
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const HANDLE waits[2] = {connection, stop};
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 2000), WAIT_OBJECT_0);
  DWORD status = 0;
  EXPECT_EQ(ConnMgrConnectionStatus(connection, &status), S_OK);
  EXPECT_EQ(status, 0x40u);
  // Nothing is left unread until the pause is over.
  EXPECT_EQ(WaitForSingleObject(connection, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(Statuses(connection, 2), (std::vector<DWORD>{0x11, 0x10}));
  EXPECT_EQ(ConnMgrConnectionStatus(connection, &status), S_OK);
  EXPECT_EQ(status, 0x10u);  // the current status once all were read

  EXPECT_EQ(platform::PostConnectionStatusForTesting(0x20), 1);
  EXPECT_EQ(Statuses(connection, 1), std::vector<DWORD>{0x20});
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 1), S_OK);
  EXPECT_EQ(ConnMgrConnectionStatus(connection, &status), E_INVALIDARG);
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 1), E_INVALIDARG);
  EXPECT_EQ(platform::PostConnectionStatusForTesting(0x20), 0);
  CloseHandle(stop);
}

TEST(ConnMgrTest, ARefusingOrMalformedScriptFailsTheEstablishCall) {
  CONNMGR_CONNECTIONINFO request = Request();
  HANDLE connection = INVALID_HANDLE_VALUE;
  {
    ScopedEnvVar script("ZEMLIK_CONNMGR", "refuse");
    EXPECT_EQ(ConnMgrEstablishConnection(&request, &connection), E_FAIL);
    EXPECT_EQ(connection, nullptr);
  }
  {
    ScopedEnvVar script("ZEMLIK_CONNMGR", "0x40,soon");
    EXPECT_EQ(ConnMgrEstablishConnection(&request, &connection), E_INVALIDARG);
  }
  ScopedEnvVar script("ZEMLIK_CONNMGR", nullptr);
  ASSERT_EQ(ConnMgrEstablishConnection(&request, &connection), S_OK);
  EXPECT_EQ(Statuses(connection, 1), std::vector<DWORD>{CONNMGR_STATUS_CONNECTED});
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 0), S_OK);
}

TEST(ConnMgrTest, TheProxyProviderAnswersFromHttpProxy) {
  CONNMGR_CONNECTIONINFO request = Request();
  HANDLE connection = nullptr;
  ASSERT_EQ(ConnMgrEstablishConnection(&request, &connection), S_OK);
  PROXY_CONFIG config{};
  {
    ScopedEnvVar proxy("http_proxy", "http://user:pw@127.0.0.1:8080/");
    EXPECT_EQ(ConnMgrProviderMessage(connection, &IID_ConnPrv_IProxyExtension, nullptr, 0, 0,
                                     reinterpret_cast<BYTE*>(&config), sizeof config),
              S_OK);
    EXPECT_EQ(config.dwType, CONNMGR_FLAG_PROXY_HTTP);
    EXPECT_EQ(std::wstring(config.szProxyServer), L"127.0.0.1:8080");
  }
  ScopedNoProxy none;
  EXPECT_EQ(ConnMgrProviderMessage(connection, &IID_ConnPrv_IProxyExtension, nullptr, 0, 0,
                                   reinterpret_cast<BYTE*>(&config), sizeof config),
            E_FAIL);
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 0), S_OK);
}

}  // namespace
