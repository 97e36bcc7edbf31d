// The time limits of a WinINet session: Win32 code only.
#include "platform/inet.h"

#include <cstdlib>
#include <initializer_list>

#undef InternetOpenW
#undef InternetConnectW

namespace {

constexpr DWORD kDefaultTimeoutMs = 60000;

DWORD TimeoutMs() {
  const char* text = std::getenv("ZEMLIK_INET_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return kDefaultTimeoutMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return kDefaultTimeoutMs;
  return static_cast<DWORD>(value);
}

// Sets the limits on `handle`; handles opened through it inherit them. (Wine's
// WinINet takes the send and receive limits from a connection handle only.)
void SetTimeouts(HINTERNET handle) {
  DWORD timeout = TimeoutMs();
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
