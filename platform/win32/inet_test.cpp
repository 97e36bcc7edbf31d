#include "platform/inet.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "tests/support/http_fixture.h"

namespace {

// One GET of http://host:port/target through the system's WinINet; the body, or
// "(failed)" when no response came.
std::string Get(const wchar_t* host, INTERNET_PORT port, const wchar_t* target) {
  HINTERNET internet =
      InternetOpenW(L"zemlik-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection =
      InternetConnectW(internet, host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestW(connection, L"GET", target, L"HTTP/1.1", nullptr, nullptr,
                                       INTERNET_FLAG_RELOAD, 0);
  std::string body = "(failed)";
  if (HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
    body.clear();
    char chunk[256];
    DWORD got = 0;
    while (InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) body.append(chunk, got);
  }
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(internet);
  return body;
}

TEST(InetTest, SessionsGetTheTimeLimitsOfTheEnvironment) {
  for (auto [setting, expected] : {std::pair{"", 60000ul}, std::pair{"300", 300ul}}) {
    ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", setting);
    HINTERNET internet =
        InternetOpenW(L"zemlik-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection =
        InternetConnectW(internet, L"127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      DWORD value = 0;
      DWORD size = sizeof value;
      EXPECT_TRUE(InternetQueryOptionW(connection, option, &value, &size)) << option;
      EXPECT_EQ(value, expected) << option;
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
  }
}

TEST(InetTest, AServerThatNeverAnswersFailsTheRequestInsteadOfHolding) {
  ScopedNoProxy noProxy;
  HttpFixture server;
  ASSERT_TRUE(server.ok());
  server.Route(HttpRoute("/hang").Hang());
  ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", "300");
  EXPECT_EQ(Get(L"127.0.0.1", static_cast<INTERNET_PORT>(server.port()), L"/hang"), "(failed)");
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
