// The time limits of a WinINet session: Win32 code only.
#include "platform/inet.h"

#include <initializer_list>

#include "platform/common/inet_timeout.h"

namespace {

// Sets the limits on `handle`; handles opened through it inherit them. (Wine's
// WinINet takes the send and receive limits from a connection handle only.)
void SetTimeouts(HINTERNET handle) {
  DWORD timeout = static_cast<DWORD>(platform::InetTimeoutMs());
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionW(handle, option, &timeout, sizeof timeout);
  }
}

}  // namespace

namespace platform {

HINTERNET TimedInternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                             DWORD flags) {
  HINTERNET internet = ::InternetOpenW(agent, accessType, proxy, proxyBypass, flags);
  if (internet != nullptr) SetTimeouts(internet);
  return internet;
}

HINTERNET TimedInternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                                LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                                DWORD_PTR context) {
  HINTERNET connection = ::InternetConnectW(internet, serverName, serverPort, userName, password,
                                            service, flags, context);
  if (connection != nullptr) SetTimeouts(connection);
  return connection;
}

}  // namespace platform
