#include "http/fetch.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "http/charset.h"
#include "platform/memory.h"
#include "tests/support/http_fixture.h"
#include "tests/support/proxy_target.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ProxyTarget;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WriteFileBytes;
using zemlik::testing::WString;

struct Text {
  int result = 0;
  std::optional<WString> text;  // nullopt: null pointer handed back
};

struct Call {
  std::string url;
  WString postData;
  int port = -1;
  WString method = TEXT("GET");
  LPCWSTR charset = kCharsetSjis;
};

Text FetchText(const Call& c) {
  LPWSTR text = reinterpret_cast<LPWSTR>(&text);  // must stay untouched on failure
  Text t;
  WString url = Utf16(c.url);
  t.result = GetUrlText(url.c_str(), c.postData.c_str(), c.port, nullptr, nullptr, c.method.c_str(),
                        c.charset, &text);
  if (t.result != 0) {
    EXPECT_EQ(text, reinterpret_cast<LPWSTR>(&text));
  } else if (text != nullptr) {
    t.text = WString(text);
    LocalFree(text);
  }
  return t;
}

int FetchFile(const Call& c, const std::string& path) {
  return GetUrlFile(Utf16(c.url).c_str(), c.postData.c_str(), c.port, nullptr, nullptr,
                    c.method.c_str(), c.charset, Utf16(path).c_str());
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Call At(const std::string& target, LPCWSTR charset = kCharsetSjis) {
    Call c;
    c.url = server_.Url(target);
    c.charset = charset;
    return c;
  }
  std::string Out() const { return folder_.Join("out.csv"); }
  // The folder holds exactly the output file with these bytes, and no temporary file.
  void ExpectOnlyOutput(const std::string& bytes) {
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"out.csv"});
    EXPECT_EQ(ReadFileBytes(Out()), bytes);
  }

  ScopedNoProxy noProxy_;
  HttpFixture server_;
  TempFolder folder_;
};

TEST_F(FetchTest, PageIsPathAndExtraOnTheUrlsHostAndPort) {
  server_.Route(HttpRoute("*", "x"));
  for (const char* target : {"/list.csv?m=12", "/?a=b", "?q", "", "/a/b.html#top"}) {
    EXPECT_EQ(FetchText(At(target)).result, 0) << target;
  }
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].requestLine, "GET /list.csv?m=12 HTTP/1.1");
  EXPECT_EQ(seen[0].Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_EQ(seen[1].requestLine, "GET /?a=b HTTP/1.1");
  EXPECT_EQ(seen[2].requestLine, "GET /?q HTTP/1.1");
  EXPECT_EQ(seen[3].requestLine, "GET / HTTP/1.1");
#if defined(_WIN32)
  // The system's WinINet sends the fragment; the POSIX layer leaves it out, as browsers do.
  EXPECT_EQ(seen[4].requestLine, "GET /a/b.html#top HTTP/1.1");
#else
  EXPECT_EQ(seen[4].requestLine, "GET /a/b.html HTTP/1.1");
#endif
}

TEST_F(FetchTest, NegativePortMeansTheUrlsOwnAndAGivenPortWins) {
  server_.Route(HttpRoute("*", "x"));
  Call c;
  c.url = "http://127.0.0.1:" + std::to_string(HttpFixture::UnusedPort()) + "/given";
  c.port = server_.port();
  EXPECT_EQ(FetchText(c).result, 0);
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].requestLine, "GET /given HTTP/1.1");
}

// The proxy is set before the first request: WinINet reads it once per process.
TEST_F(FetchTest, ThroughAProxyTheUrlsPortOrTheGivenOneIsNamed) {
  ScopedEnvVar proxy("http_proxy", server_.BaseUrl());
  server_.Route(HttpRoute("*", "x"));
  Call c;
  c.url = "http://s/default";
  c.port = -1;
  EXPECT_EQ(FetchText(c).result, 0);
  c.url = "http://shop.invalid:8080/own";
  EXPECT_EQ(FetchText(c).result, 0);
  c.url = "http://shop.invalid:8080/caller";
  c.port = 81;
  EXPECT_EQ(FetchText(c).result, 0);
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].requestLine, "GET " + ProxyTarget("s", "/default") + " HTTP/1.1");
  EXPECT_EQ(seen[0].Header("Host"), "s");
  EXPECT_EQ(seen[1].requestLine, "GET http://shop.invalid:8080/own HTTP/1.1");
  EXPECT_EQ(seen[2].requestLine, "GET http://shop.invalid:81/caller HTTP/1.1");
}

TEST(FetchTlsTest, HttpsIsFetchedOverVerifiedTls) {
  if (const char* why = HttpFixture::CaTrustUnavailable()) GTEST_SKIP() << why;
  ScopedNoProxy noProxy;
  HttpFixture server({.tls = true});
  ASSERT_TRUE(server.ok());
  server.Route(HttpRoute("/secure", "\xe3\x81\x82"));
  Call c;
  c.url = server.Url("/secure");
  c.charset = kCharsetUtf8;
  {
    ScopedEnvVar ca("CURL_CA_BUNDLE", server.CaFile());
    Text t = FetchText(c);
    EXPECT_EQ(t.result, 0);
    EXPECT_EQ(t.text, TEXT("\u3042"));
  }
  ScopedEnvVar ca("CURL_CA_BUNDLE", nullptr);
  ScopedEnvVar file("SSL_CERT_FILE", nullptr);
  EXPECT_EQ(FetchText(c).result, -105);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(FetchTest, TextIsDecodedByCharsetUpToTheFirstZeroByte) {
  server_.Route(HttpRoute("/sjis", std::string("\x82\xa0\x82\xa2 abc\r\n\0tail", 14)));
  server_.Route(HttpRoute("/utf8", std::string("\xe3\x81\x82\xc3\xa9!\0tail", 11)));
  EXPECT_EQ(FetchText(At("/sjis")).text, TEXT("\u3042\u3044 abc\r\n"));
  EXPECT_EQ(FetchText(At("/utf8", kCharsetUtf8)).text, TEXT("\u3042\u00e9!"));
  for (LPCWSTR none : {kCharsetUnicode, kCharsetBin}) {
    Text t = FetchText(At("/sjis", none));
    EXPECT_EQ(t.result, 0);
    EXPECT_EQ(t.text, std::nullopt);
  }
  EXPECT_EQ(server_.Requests().size(), 4u);
}

TEST_F(FetchTest, FileIsWrittenByCharset) {
  std::string zeros("ab\0cd", 5);
  server_.Route(HttpRoute("/sjis", "\x82\xa0line1\r\nline2\r\n"));
  server_.Route(HttpRoute("/zeros", zeros));
  server_.Route(HttpRoute("/utf8", "\xe3\x81\x82x\xef\xbd\x9e"));
  server_.Route(HttpRoute("/le", std::string("\xff\xfe\x42\x30\x41\x00", 6)));
  server_.Route(HttpRoute("/be", std::string("\xfe\xff\x30\x42\x00\x41\x00", 7)));
  server_.Route(HttpRoute("/nobom", std::string("\x42\x30\x41\x00\x00\x00\x42\x00", 8)));
  server_.Route(HttpRoute("/empty"));
  struct Case {
    const char* target;
    LPCWSTR charset;
    std::string bytes;
  } cases[] = {
      {"/sjis", kCharsetSjis, "\x82\xa0line1\r\nline2\r\n\r\n"},
      {"/zeros", kCharsetSjis, "ab\r\n"},
      {"/zeros", kCharsetUtf8, "ab\r\n"},
      {"/zeros", kCharsetBin, zeros},
      {"/utf8", kCharsetUtf8, "\x82\xa0x\x81\x60\r\n"},
      {"/le", kCharsetUnicode,
       "\x82\xa0"
       "A\r\n"},
      {"/be", kCharsetUnicode,
       "\x82\xa0"
       "A\r\n"},
      {"/nobom", kCharsetUnicode,
       "\x82\xa0"
       "A\r\n"},
      {"/le", kCharsetBin, std::string("\xff\xfe\x42\x30\x41\x00", 6)},
      {"/empty", kCharsetBin, ""},
      {"/empty", kCharsetSjis, "\r\n"},
      {"/empty", kCharsetUnicode, "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(FetchFile(At(c.target, c.charset), Out()), 0);
    ExpectOnlyOutput(c.bytes);
  }
}

TEST_F(FetchTest, PostDataIsEncodedByCharset) {
  server_.Route(HttpRoute("*", "ok"));
  Call c = At("/form");
  c.postData = TEXT("q=\u3042");
  c.method = TEXT("POST");
  EXPECT_EQ(FetchText(c).result, 0);
  c.charset = kCharsetUtf8;
  EXPECT_EQ(FetchFile(c, Out()), 0);
  c.charset = kCharsetBin;
  EXPECT_EQ(FetchText(c).result, 0);
  c.charset = kCharsetUnicode;
  EXPECT_EQ(FetchFile(c, Out()), 0);
  c.charset = kCharsetSjis;
  c.method = TEXT("post");
  EXPECT_EQ(FetchText(c).result, 0);
  c.method = TEXT("POST");
  c.postData = TEXT("");
  EXPECT_EQ(FetchText(c).result, 0);

  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0].requestLine, "POST /form HTTP/1.1");
  EXPECT_EQ(seen[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen[0].body, "q=\x82\xa0");
  EXPECT_EQ(seen[1].body, "q=\xe3\x81\x82");
  EXPECT_EQ(seen[2].requestLine, "POST /form HTTP/1.1");
  EXPECT_EQ(seen[2].Header("Content-Length"), "0");
  EXPECT_EQ(seen[3].Header("Content-Length"), "0");
  EXPECT_EQ(seen[4].requestLine, "GET /form HTTP/1.1");
  EXPECT_EQ(seen[4].Header("Content-Length"), std::nullopt);
  EXPECT_EQ(seen[4].body, "");
  EXPECT_EQ(seen[5].Header("Content-Length"), "0");
}

TEST_F(FetchTest, AUrlThatCannotBeSplitSendsNothingAndCreatesNoFile) {
  std::vector<const char*> urls = {"", "not a url"};
#if !defined(_WIN32)
  // The system's InternetCrackUrlW splits these (an empty host, a port beyond 16 bits, any
  // scheme) and leaves the refusal to a later step; the POSIX one refuses them here.
  urls.insert(urls.end(), {"http://", "ftp://host/x", "http://host:99999/"});
#endif
  for (const char* url : urls) {
    Call c;
    c.url = url;
    EXPECT_EQ(FetchText(c).result, -113) << url;
    EXPECT_EQ(FetchFile(c, Out()), -113) << url;
  }
  LPWSTR text = nullptr;
  EXPECT_EQ(GetUrlText(nullptr, TEXT(""), -1, nullptr, nullptr, TEXT("GET"), kCharsetSjis, &text),
            -113);
  EXPECT_EQ(GetUrlFile(nullptr, TEXT(""), -1, nullptr, nullptr, TEXT("GET"), kCharsetSjis,
                       Utf16(Out()).c_str()),
            -113);
  EXPECT_EQ(folder_.List(), std::vector<std::string>{});
  EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(FetchTest, AFailedDownloadKeepsTheOldFile) {
  server_.Route(HttpRoute("/hang").Hang());
  server_.Route(HttpRoute("/new", "new"));
  server_.Route(HttpRoute("/cut", "0123456789").Repeat(100).BreakAfter(777));
  server_.Route(HttpRoute("/missing", "\x82\xa0?").Status(404, "Not Found"));
  ASSERT_TRUE(WriteFileBytes(Out(), "old\r\n"));
  {
    ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", "500");
    Call refused;
    refused.url = "http://127.0.0.1:" + std::to_string(HttpFixture::UnusedPort()) + "/x";
    EXPECT_EQ(FetchFile(refused, Out()), -105);
    ExpectOnlyOutput("old\r\n");
    Call hang = At("/hang");
    hang.method = TEXT("POST");
    hang.postData = TEXT("a=b");
    EXPECT_EQ(FetchFile(hang, Out()), -104);
    ExpectOnlyOutput("old\r\n");
    EXPECT_EQ(FetchFile(At("/hang", kCharsetBin), Out()), -105);
    ExpectOnlyOutput("old\r\n");
  }
  EXPECT_EQ(FetchFile(At("/new", kCharsetBin), Out()), 0);
  ExpectOnlyOutput("new");
  // An answer that is not whole, or an error page, is no download.
  for (LPCWSTR charset : {kCharsetBin, kCharsetSjis}) {
    EXPECT_EQ(FetchFile(At("/cut", charset), Out()), -106);
    ExpectOnlyOutput("new");
    EXPECT_EQ(FetchFile(At("/missing", charset), Out()), -107);
    ExpectOnlyOutput("new");
  }
  EXPECT_EQ(FetchText(At("/cut")).result, -106);
  EXPECT_EQ(FetchText(At("/missing")).result, -107);
}

TEST_F(FetchTest, NoTemporaryFileMeansNoRequest) {
  server_.Route(HttpRoute("*", "x"));
  EXPECT_EQ(FetchFile(At("/x"), folder_.Join("missing/out.csv")), -111);
  EXPECT_EQ(FetchFile(At("/x"), ""), -111);
  EXPECT_EQ(folder_.List(), std::vector<std::string>{});
  EXPECT_EQ(server_.Requests().size(), 0u);
}

#if !defined(_WIN32)
// Writes beyond a small file-size limit fail (SIGXFSZ ignored), so the body is cut short.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  sighandler_t oldHandler_;
};

TEST_F(FetchTest, AShortWriteFailsAndKeepsTheOldFile) {
  server_.Route(HttpRoute("/big", std::string(5000, 'b')));
  ASSERT_TRUE(WriteFileBytes(Out(), "old"));
  {
    FileSizeLimit limit(1000);
    EXPECT_EQ(FetchFile(At("/big", kCharsetBin), Out()), -114);
    EXPECT_EQ(FetchFile(At("/big", kCharsetSjis), Out()), -114);
  }
  ExpectOnlyOutput("old");
}

#endif

TEST_F(FetchTest, NoMemoryAnywhereFreesEverythingAndLeavesNoFile) {
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) body += "\x82\xa0" + std::to_string(i);
  server_.Route(HttpRoute("/page", body));
  ASSERT_TRUE(WriteFileBytes(Out(), "old"));
  std::set<int> seenFile;
  std::set<int> seenText;
  for (LPCWSTR charset : {kCharsetSjis, kCharsetUtf8, kCharsetUnicode, kCharsetBin}) {
    Call c = At("/page", charset);
    c.postData = TEXT("q=\u3042");
    for (unsigned long n = 1;; ++n) {
      ASSERT_LT(n, 100u);
      platform::ResetAllocationCountForTesting();
      platform::SetAllocationFailureForTesting(n);
      int result = FetchFile(c, Out());
      platform::SetAllocationFailureForTesting(0);
      if (result == 0) break;
      seenFile.insert(result);
      EXPECT_EQ(folder_.List(), std::vector<std::string>{"out.csv"});
      EXPECT_EQ(ReadFileBytes(Out()), "old") << "allocation " << n;
    }
    ASSERT_TRUE(WriteFileBytes(Out(), "old"));
    for (unsigned long n = 1;; ++n) {
      ASSERT_LT(n, 100u);
      platform::ResetAllocationCountForTesting();
      platform::SetAllocationFailureForTesting(n);
      Text t = FetchText(c);
      platform::SetAllocationFailureForTesting(0);
      if (t.result == 0) break;
      seenText.insert(t.result);
    }
  }
  // Host, page, post data and decoded text give -112, the body -110, the line buffer -114.
  EXPECT_EQ(seenFile, (std::set<int>{-110, -112, -114}));
  EXPECT_EQ(seenText, (std::set<int>{-110, -112}));
}

}  // namespace
