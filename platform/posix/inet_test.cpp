#include "platform/inet.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/http_fixture.h"

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

struct Exchange {
  BOOL sent = FALSE;
  DWORD status = 0;  // the final response's status code, once sent
  std::string body;
  BOOL lastRead = TRUE;  // result of the read that ended the body
  int reads = 0;
  DWORD error = 0;  // GetLastError after the send or read that failed
};

struct Call {
  std::string host = "127.0.0.1";
  int port = 0;
  std::u16string verb = u"GET";
  std::string object = "/";
  DWORD flags = INTERNET_FLAG_RELOAD;
  const char16_t* user = nullptr;
  const char16_t* password = nullptr;
  const char16_t* headers = nullptr;
  std::string post;
  DWORD block = 102400;
};

// One exchange the way the program makes it: open, connect, open request, send, read.
Exchange Perform(const Call& call) {
  Exchange result;
  HINTERNET root =
      InternetOpenW(u"agent/1.0 (test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  EXPECT_NE(root, nullptr);
  HINTERNET connection =
      InternetConnectW(root, Wide(call.host).c_str(), static_cast<INTERNET_PORT>(call.port),
                       call.user, call.password, INTERNET_SERVICE_HTTP, 0, 0);
  EXPECT_NE(connection, nullptr);
  HINTERNET request = HttpOpenRequestW(connection, call.verb.c_str(), Wide(call.object).c_str(),
                                       u"HTTP/1.1", nullptr, nullptr, call.flags, 0);
  EXPECT_NE(request, nullptr);
  std::string post = call.post;
  result.sent =
      HttpSendRequestW(request, call.headers, call.headers ? 0xFFFFFFFFu : 0,
                       post.empty() ? nullptr : post.data(), static_cast<DWORD>(post.size()));
  if (!result.sent) result.error = GetLastError();
  if (result.sent) {
    DWORD size = sizeof result.status;
    EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                               &result.status, &size, nullptr));
    std::string block(call.block, '\0');
    for (;;) {
      DWORD got = 12345;
      result.lastRead = InternetReadFile(request, block.data(), call.block, &got);
      ++result.reads;
      if (!result.lastRead) result.error = GetLastError();
      if (!result.lastRead || got == 0) break;
      result.body.append(block.data(), got);
    }
  }
  EXPECT_EQ(InternetCloseHandle(request), TRUE);
  EXPECT_EQ(InternetCloseHandle(connection), TRUE);
  EXPECT_EQ(InternetCloseHandle(root), TRUE);
  return result;
}

struct Cracked {
  BOOL ok;
  std::u16string scheme, host, user, password, path, extra;
  bool hasUser, hasPassword, hasPath, hasExtra;
  INTERNET_SCHEME nScheme;
  int port;
};

Cracked Crack(const std::u16string& url) {
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength =
      c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  Cracked r{};
  r.ok = InternetCrackUrlW(url.c_str(), 0, 0, &c);
  if (!r.ok) return r;
  auto take = [&url](LPWSTR p, DWORD n, bool* present) {
    if (present) *present = p != nullptr;
    if (p == nullptr) return std::u16string();
    EXPECT_GE(p, url.data());
    EXPECT_LE(p + n, url.data() + url.size());
    return std::u16string(p, n);
  };
  r.scheme = take(c.lpszScheme, c.dwSchemeLength, nullptr);
  r.host = take(c.lpszHostName, c.dwHostNameLength, nullptr);
  r.user = take(c.lpszUserName, c.dwUserNameLength, &r.hasUser);
  r.password = take(c.lpszPassword, c.dwPasswordLength, &r.hasPassword);
  r.path = take(c.lpszUrlPath, c.dwUrlPathLength, &r.hasPath);
  r.extra = take(c.lpszExtraInfo, c.dwExtraInfoLength, &r.hasExtra);
  r.nScheme = c.nScheme;
  r.port = c.nPort;
  return r;
}

TEST(InternetCrackUrlW, SplitsIntoPointersIntoTheUrl) {
  Cracked r = Crack(u"http://shop.example/list.csv?m=12");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.scheme, u"http");
  EXPECT_EQ(r.nScheme, INTERNET_SCHEME_HTTP);
  EXPECT_EQ(r.host, u"shop.example");
  EXPECT_EQ(r.port, 80);
  EXPECT_FALSE(r.hasUser);
  EXPECT_FALSE(r.hasPassword);
  EXPECT_EQ(r.path, u"/list.csv");
  EXPECT_EQ(r.extra, u"?m=12");

  r = Crack(u"HTTPS://u:p@a:8443/?a=b#frag");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.scheme, u"HTTPS");
  EXPECT_EQ(r.nScheme, INTERNET_SCHEME_HTTPS);
  EXPECT_EQ(r.host, u"a");
  EXPECT_EQ(r.port, 8443);
  EXPECT_EQ(r.user, u"u");
  EXPECT_EQ(r.password, u"p");
  EXPECT_EQ(r.path, u"/");
  EXPECT_EQ(r.extra, u"?a=b#frag");

  r = Crack(u"https://host");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.port, 443);
  EXPECT_FALSE(r.hasPath);
  EXPECT_FALSE(r.hasExtra);

  r = Crack(u"http://user@[::1]:8080#top");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.user, u"user");
  EXPECT_FALSE(r.hasPassword);
  EXPECT_EQ(r.host, u"[::1]");
  EXPECT_EQ(r.port, 8080);
  EXPECT_FALSE(r.hasPath);
  EXPECT_EQ(r.extra, u"#top");

  r = Crack(u"http://a@b@host:/p@q");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.user, u"a@b");
  EXPECT_EQ(r.host, u"host");
  EXPECT_EQ(r.port, 80);
  EXPECT_EQ(r.path, u"/p@q");
}

TEST(InternetCrackUrlW, RefusesWhatItCannotSplit) {
  for (const char16_t* url :
       {u"", u"shop.example/list", u"ftp://host/x", u"http:/host/x", u"http://", u"http:///x",
        u"http://:80/x", u"http://host:0/", u"http://host:65536/", u"http://host:8x/",
        u"http://host:123456/", u"http://[::1/", u"http://[::1]x/", u"://host/"}) {
    EXPECT_FALSE(Crack(url).ok) << std::string(url, url + std::char_traits<char16_t>::length(url));
  }
  EXPECT_FALSE(InternetCrackUrlW(nullptr, 0, 0, nullptr));
}

TEST(InternetCrackUrlW, HonoursLengthsAndRequestedComponents) {
  std::u16string url = u"http://host/path?q";
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.dwHostNameLength = 1;
  ASSERT_TRUE(InternetCrackUrlW(url.c_str(), 11, 0, &c));  // "http://host"
  EXPECT_EQ(std::u16string(c.lpszHostName, c.dwHostNameLength), u"host");
  EXPECT_EQ(c.lpszUrlPath, nullptr);
  EXPECT_EQ(c.dwUrlPathLength, 0u);
  EXPECT_EQ(c.lpszScheme, nullptr);

  URL_COMPONENTSW wrongSize{};
  wrongSize.dwStructSize = 60;
  if (sizeof(URL_COMPONENTSW) != 60) {
    EXPECT_FALSE(InternetCrackUrlW(url.c_str(), 0, 0, &wrongSize));
  }
  URL_COMPONENTSW copy{};
  copy.dwStructSize = sizeof copy;
  WCHAR buffer[16];
  copy.lpszHostName = buffer;
  copy.dwHostNameLength = 16;
  EXPECT_FALSE(InternetCrackUrlW(url.c_str(), 0, 0, &copy));
}

class InetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Call At(const std::string& object) {
    Call call;
    call.port = server_.port();
    call.object = object;
    return call;
  }
  HttpFixture server_;
  ScopedNoProxy noProxy_;
};

TEST_F(InetTest, GetSendsOnlyHostAndUserAgent) {
  server_.Route(HttpRoute("/list.csv?m=12", "hello"));
  Exchange e = Perform(At("/list.csv?m=12"));
  EXPECT_TRUE(e.sent);
  EXPECT_TRUE(e.lastRead);
  EXPECT_EQ(e.body, "hello");
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].raw,
            "GET /list.csv?m=12 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
                "\r\nUser-Agent: agent/1.0 (test\r\n\r\n");
}

TEST_F(InetTest, ObjectBytesAUrlCannotCarryArePercentEncoded) {
  server_.Route(HttpRoute("/a%20b/%E3%81%82?q=%09", "ok"));
  HINTERNET root = InternetOpenW(u"a", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectW(root, u"127.0.0.1", server_.port(), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request =
      HttpOpenRequestW(connection, u"GET", u"a b/\u3042?q=\t", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_TRUE(HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  char buffer[16];
  DWORD got = 0;
  EXPECT_TRUE(InternetReadFile(request, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "ok");
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(root);
  EXPECT_EQ(server_.Requests().at(0).requestLine, "GET /a%20b/%E3%81%82?q=%09 HTTP/1.1");
}

TEST_F(InetTest, PostSendsContentTypeLengthAndBody) {
  server_.Route(HttpRoute("/form", "done").Status(201, "Created"));
  Call call = At("/form");
  call.verb = u"POST";
  call.headers = u"Content-Type: application/x-www-form-urlencoded";
  call.post = std::string("a=1&b=\x82\xa0", 8);
  Exchange e = Perform(call);
  EXPECT_TRUE(e.sent);
  EXPECT_EQ(e.body, "done");
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].raw,
            "POST /form HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
                "\r\nUser-Agent: agent/1.0 (test\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: 8\r\n\r\na=1&b=\x82\xa0");

  call.post.clear();
  call.headers = nullptr;
  Perform(call);
  seen = server_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].raw,
            "POST /form HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
                "\r\nUser-Agent: agent/1.0 (test\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(InetTest, BodyIsPulledInTheCallersBlockSize) {
  std::string piece;
  for (int i = 0; i < 256; ++i) piece += static_cast<char>(i);
  server_.Route(HttpRoute("/big", piece).Repeat(12 * 1024));  // 3 MiB
  server_.Route(HttpRoute("/chunked", piece).Repeat(1000).Chunked(777));
  server_.Route(HttpRoute("/close", piece).Repeat(100).NoLength());
  server_.Route(HttpRoute("/empty"));
  std::string expected;
  for (int i = 0; i < 12 * 1024; ++i) expected += piece;

  Call call = At("/big");
  call.block = 1000;
  Exchange e = Perform(call);
  EXPECT_TRUE(e.lastRead);
  EXPECT_TRUE(e.body == expected);
  // Every read but the last two is filled: the block size, then the rest, then 0 bytes.
  EXPECT_EQ(e.reads, static_cast<int>((expected.size() + 999) / 1000) + 1);

  e = Perform(At("/chunked"));
  EXPECT_TRUE(e.lastRead);
  EXPECT_TRUE(e.body == expected.substr(0, 256000));
  e = Perform(At("/close"));
  EXPECT_TRUE(e.lastRead);
  EXPECT_TRUE(e.body == expected.substr(0, 25600));
  e = Perform(At("/empty"));
  EXPECT_TRUE(e.sent);
  EXPECT_TRUE(e.lastRead);
  EXPECT_EQ(e.body, "");
  EXPECT_EQ(e.reads, 1);
}

TEST_F(InetTest, ContentLengthOfTheFinalResponse) {
  server_.Route(HttpRoute("/moved").Status(302, "Found").Header("Location", "/sized"));
  server_.Route(HttpRoute("/sized", std::string(4321, 's')));
  server_.Route(HttpRoute("/chunked", "abc").Chunked(2));
  auto query = [this](const char16_t* object, DWORD* length) {
    HINTERNET root = InternetOpenW(u"a", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(root, u"127.0.0.1", server_.port(), nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request =
        HttpOpenRequestW(connection, u"GET", object, nullptr, nullptr, nullptr, 0, 0);
    DWORD size = sizeof *length;
    DWORD level = HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER;
    EXPECT_FALSE(HttpQueryInfoW(request, level, length, &size, nullptr));  // not sent yet
    EXPECT_TRUE(HttpSendRequestW(request, nullptr, 0, nullptr, 0));
    BOOL known = HttpQueryInfoW(request, level, length, &size, nullptr);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(root);
    return known;
  };
  DWORD length = 0;
  EXPECT_TRUE(query(u"/moved", &length));
  EXPECT_EQ(length, 4321u);
  EXPECT_FALSE(query(u"/chunked", &length));
  EXPECT_EQ(Perform(At("/moved")).status, 200u);
}

TEST_F(InetTest, ErrorStatusIsAResponseLikeAnyOther) {
  server_.Route(HttpRoute("/gone", "<h1>404</h1>").Status(404, "Not Found"));
  Exchange e = Perform(At("/gone"));
  EXPECT_TRUE(e.sent);
  EXPECT_EQ(e.status, 404u);
  EXPECT_EQ(e.body, "<h1>404</h1>");
}

TEST_F(InetTest, BrokenTransferDeliversWhatArrivedThenFails) {
  server_.Route(HttpRoute("/cut", std::string(300000, 'x')).BreakAfter(150000));
  server_.Route(
      HttpRoute("/cutchunked", "abcdefghij").Repeat(50000).Chunked(4096).BreakAfter(123456));
  server_.Route(HttpRoute("/headonly", "abc").BreakAfter(0));
  Exchange e = Perform(At("/cut"));
  EXPECT_TRUE(e.sent);
  EXPECT_FALSE(e.lastRead);
  EXPECT_EQ(e.error, ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(e.body, std::string(150000, 'x'));
  e = Perform(At("/cutchunked"));
  EXPECT_FALSE(e.lastRead);
  std::string tenths;
  while (tenths.size() < 123456) tenths += "abcdefghij";
  EXPECT_EQ(e.body, tenths.substr(0, 123456));
  e = Perform(At("/headonly"));
  EXPECT_TRUE(e.sent);
  EXPECT_FALSE(e.lastRead);
  EXPECT_EQ(e.body, "");
  EXPECT_EQ(e.reads, 1);
}

TEST_F(InetTest, RedirectsAreFollowedUpToTen) {
  for (int i = 0; i < 11; ++i) {
    server_.Route(HttpRoute("/r" + std::to_string(i), "moved")
                      .Status(302, "Found")
                      .Header("Location", "/r" + std::to_string(i + 1)));
  }
  server_.Route(HttpRoute("/r11", "arrived"));
  Exchange e = Perform(At("/r1"));  // ten redirects
  EXPECT_TRUE(e.sent);
  EXPECT_EQ(e.body, "arrived");
  EXPECT_EQ(server_.Requests().back().requestLine, "GET /r11 HTTP/1.1");
  e = Perform(At("/r0"));  // eleven
  EXPECT_FALSE(e.sent);
}

TEST_F(InetTest, UserAndPasswordAreOfferedAsBasicOnceTheServerAsks) {
  server_.Route(HttpRoute("/private", "secret").Basic("user", "pass"));
  server_.Route(HttpRoute("/open", "public"));
  Call call = At("/private");
  call.user = u"user";
  call.password = u"pass";
  Exchange answered = Perform(call);  // the challenge is no answer yet
  EXPECT_EQ(answered.status, 200u);
  EXPECT_EQ(answered.body, "secret");
  call.password = u"wrong";
  Exchange refused = Perform(call);  // the second challenge is the answer
  EXPECT_TRUE(refused.sent);
  EXPECT_EQ(refused.status, 401u);
  EXPECT_EQ(refused.body, "");
  call = At("/open");
  call.user = u"user";
  call.password = u"pass";
  EXPECT_EQ(Perform(call).body, "public");

  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].Header("Authorization"), std::nullopt);
  EXPECT_EQ(seen[1].Header("Authorization"), "Basic dXNlcjpwYXNz");
  EXPECT_EQ(seen[2].Header("Authorization"), std::nullopt);
  EXPECT_EQ(seen[3].Header("Authorization"), "Basic dXNlcjp3cm9uZw==");
  EXPECT_EQ(seen[4].Header("Authorization"), std::nullopt);  // never sent unasked
}

TEST_F(InetTest, NoResponseFailsTheSendAndSilenceFailsTheRead) {
  ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", "700");
  server_.Route(HttpRoute("/hang").Hang());
  Exchange e = Perform(At("/hang"));
  EXPECT_FALSE(e.sent);
  EXPECT_EQ(e.error, ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(server_.Requests().size(), 1u);

  // Headers, then part of the body, then silence: the send succeeds, the reads deliver what
  // came and then fail once nothing more arrives within the limit.
  server_.Route(HttpRoute("/stall", std::string(5000, 's')).StallAfter(3000));
  e = Perform(At("/stall"));
  EXPECT_TRUE(e.sent);
  EXPECT_FALSE(e.lastRead);
  EXPECT_EQ(e.error, ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(e.body, std::string(3000, 's'));

  Call refused = At("/");
  refused.port = HttpFixture::UnusedPort();
  e = Perform(refused);
  EXPECT_FALSE(e.sent);
  EXPECT_EQ(e.error, ERROR_INTERNET_CANNOT_CONNECT);
  Call unknown = At("/");
  unknown.host = "host.invalid";
  EXPECT_EQ(Perform(unknown).error, ERROR_INTERNET_NAME_NOT_RESOLVED);
}

TEST_F(InetTest, ProxyVariableIsHonoured) {
  server_.Route(HttpRoute("/list.csv", "via proxy").Host("shop.invalid"));
  ScopedEnvVar proxy("http_proxy", server_.BaseUrl());
  Call call;
  call.host = "shop.invalid";
  call.port = 8080;
  call.object = "/list.csv";
  Exchange e = Perform(call);
  EXPECT_EQ(e.body, "via proxy");
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].raw,
            "GET http://shop.invalid:8080/list.csv HTTP/1.1\r\nHost: shop.invalid:8080\r\n"
            "User-Agent: agent/1.0 (test\r\n\r\n");
}

TEST(InetTlsTest, VerifiesTheServerCertificate) {
  ScopedNoProxy noProxy;
  HttpFixture server({.tls = true});
  ASSERT_TRUE(server.ok());
  server.Route(HttpRoute("/secure", "over tls"));
  Call call;
  call.port = server.port();
  call.object = "/secure";
  call.flags |= INTERNET_FLAG_SECURE;
  {
    ScopedEnvVar ca("CURL_CA_BUNDLE", server.CaFile());
    Exchange e = Perform(call);
    EXPECT_TRUE(e.sent);
    EXPECT_EQ(e.body, "over tls");
  }
  {
    ScopedEnvVar ca("CURL_CA_BUNDLE", nullptr);
    ScopedEnvVar file("SSL_CERT_FILE", server.CaFile());
    EXPECT_EQ(Perform(call).body, "over tls");
  }
  {
    ScopedEnvVar ca("CURL_CA_BUNDLE", nullptr);
    ScopedEnvVar file("SSL_CERT_FILE", nullptr);
    EXPECT_FALSE(Perform(call).sent);
  }
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(InetHandles, RefusesWhatThePlatformDoesNotOffer) {
  EXPECT_EQ(InternetOpenW(u"a", 1, nullptr, nullptr, 0), nullptr);
  HINTERNET root = InternetOpenW(u"a", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(InternetConnectW(root, u"h", 80, nullptr, nullptr, 1, 0, 0), nullptr);
  EXPECT_EQ(InternetConnectW(root, u"", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  HINTERNET connection =
      InternetConnectW(root, u"h", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(HttpOpenRequestW(root, u"GET", u"/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(HttpOpenRequestW(connection, u"PUT", u"/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(HttpOpenRequestW(connection, u"get", u"/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(HttpOpenRequestW(connection, u"GET", u"/", u"HTTP/2", nullptr, nullptr, 0, 0), nullptr);
  HINTERNET request = HttpOpenRequestW(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_NE(request, nullptr);
  char buffer[4];
  DWORD got = 7;
  EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &got));  // not sent yet
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(InternetCloseHandle(root));
  EXPECT_FALSE(InternetCloseHandle(root));
  EXPECT_TRUE(InternetCloseHandle(request));
  EXPECT_TRUE(InternetCloseHandle(connection));
  EXPECT_FALSE(InternetCloseHandle(nullptr));
}

}  // namespace
