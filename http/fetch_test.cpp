// GetUrlText and GetUrlFile: what they add to the request (the URL split, the port, the
// charset both ways, the output file put in place only when whole) and their codes.
#include "http/fetch.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "http/charset.h"
#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Names = std::vector<std::string>;

struct Call {
  std::string url;
  LPCWSTR charset = kCharsetSjis;
  int port = -1;
  WString postData;
  WString method = TEXT("GET");
};

// The result, and the text handed back (nullopt for null); *text is untouched on failure.
std::pair<int, std::optional<WString>> FetchText(const Call& c) {
  LPWSTR text = reinterpret_cast<LPWSTR>(&text);
  const int result = GetUrlText(Utf16(c.url).c_str(), c.postData.c_str(), c.port, nullptr, nullptr,
                                c.method.c_str(), c.charset, &text);
  if (result != 0) {
    EXPECT_EQ(text, reinterpret_cast<LPWSTR>(&text));
    return {result, std::nullopt};
  }
  std::optional<WString> out = text ? std::optional<WString>(text) : std::nullopt;
  LocalFree(text);
  return {result, out};
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Call At(const std::string& target, LPCWSTR charset = kCharsetSjis) {
    return Call{server_.Url(target), charset};
  }
  int FetchFile(const Call& c) {
    return GetUrlFile(Utf16(c.url).c_str(), c.postData.c_str(), c.port, nullptr, nullptr,
                      c.method.c_str(), c.charset, Utf16(out_).c_str());
  }
  ScopedEnv noProxy_ = ScopedEnv::NoProxy();
  Server server_;
  TempFolder folder_;
  std::string out_ = folder_.Join("out.csv");
};

TEST_F(FetchTest, ThePageIsPathAndExtraOnTheUrlsHostAndPortOrTheGivenOne) {
  server_.Add("*", "x");
  Names expected = {"GET /list.csv?m=12 HTTP/1.1",
                    "GET /?a=b HTTP/1.1",
                    "GET /?q HTTP/1.1",
                    "GET / HTTP/1.1",
                    "GET /a/b.html HTTP/1.1",
                    "GET /a%20b/%E3%81%82?q=%09 HTTP/1.1",
                    "GET /given HTTP/1.1"};
  std::vector<std::string> targets = {"/list.csv?m=12", "/?a=b",           "?q", "",
                                      "/a/b.html#top",  "/a b/\u3042?q=\t"};
#if defined(_WIN32)
  expected[4] = "GET /a/b.html#top HTTP/1.1";  // the system's WinINet sends the fragment
  targets.pop_back();                          // and escapes otherwise
  expected.erase(expected.begin() + 5);
#endif
  for (const std::string& target : targets) EXPECT_EQ(FetchText(At(target)).first, 0) << target;
  Call given{"http://127.0.0.1:" + std::to_string(server_.ClosedPort()) + "/given"};
  given.port = server_.port();
  EXPECT_EQ(FetchText(given).first, 0);
  Names lines;
  for (const auto& request : server_.Requests()) lines.push_back(request.line);
  EXPECT_EQ(lines, expected);
}

// WinINet reads the proxy once per process: this case has a process of its own.
TEST_F(FetchTest, ThroughAProxyTheUrlsPortOrTheGivenOneIsNamed) {
  ScopedEnv proxy({{"http_proxy", server_.Url().c_str()}});
  server_.Add("*", "x");
  for (auto [url, port] : {std::pair{"http://s/default", -1},
                           {"http://shop.invalid:8080/own", -1},
                           {"http://shop.invalid:8080/caller", 81}}) {
    EXPECT_EQ(FetchText({url, kCharsetSjis, port}).first, 0);
  }
  const auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].line, ProxyGet("s", "/default"));
  EXPECT_EQ(seen[1].line, "GET http://shop.invalid:8080/own HTTP/1.1");
  EXPECT_EQ(seen[2].line, "GET http://shop.invalid:81/caller HTTP/1.1");
}

TEST_F(FetchTest, TheCharsetDecidesTheTextTheFileAndThePostData) {
  const std::string zeros("ab\0cd", 5);
  server_.Add("/sjis", "\x82\xa0line1\r\nline2\r\n");
  server_.Add("/zeros", zeros);
  server_.Add("/utf8", "\xe3\x81\x82x\xef\xbd\x9e");
  server_.Add("/le", std::string("\xff\xfe\x42\x30\x41\x00", 6));
  server_.Add("/be", std::string("\xfe\xff\x30\x42\x00\x41\x00", 7));
  server_.Add("/nobom", std::string("\x42\x30\x41\x00\x00\x00\x42\x00", 8));
  server_.Add("/empty");
  struct Row {
    const char* target;
    LPCWSTR charset;
    std::optional<WString> text;
    std::string file;
  } rows[] = {
      {"/sjis", kCharsetSjis, TEXT("\u3042line1\r\nline2\r\n"), "\x82\xa0line1\r\nline2\r\n\r\n"},
      {"/zeros", kCharsetSjis, TEXT("ab"), "ab\r\n"},
      {"/zeros", kCharsetUtf8, TEXT("ab"), "ab\r\n"},
      {"/zeros", kCharsetBin, std::nullopt, zeros},
      {"/utf8", kCharsetUtf8, TEXT("\u3042x\uff5e"), "\x82\xa0x\x81\x60\r\n"},
      {"/le", kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n"},
      {"/be", kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n"},
      {"/nobom", kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n"},
      {"/empty", kCharsetBin, std::nullopt, ""},
      {"/empty", kCharsetSjis, TEXT(""), "\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    EXPECT_EQ(FetchText(At(row.target, row.charset)), std::make_pair(0, row.text));
    EXPECT_EQ(FetchFile(At(row.target, row.charset)), 0);
    EXPECT_EQ(ReadFileBytes(out_), row.file);
    EXPECT_EQ(folder_.List(), Names{"out.csv"});
  }
  // Post data, encoded by the charset; "POST" exactly sends it.
  server_.Clear();
  server_.Add("*", "ok");
  const size_t before = server_.Requests().size();
  const std::tuple<LPCWSTR, LPCWSTR, LPCWSTR, std::string> posts[] = {
      {kCharsetSjis, TEXT("POST"), TEXT("q=\u3042"), "POST q=\x82\xa0"},
      {kCharsetUtf8, TEXT("POST"), TEXT("q=\u3042"), "POST q=\xe3\x81\x82"},
      {kCharsetBin, TEXT("POST"), TEXT("q=\u3042"), "POST "},
      {kCharsetUnicode, TEXT("POST"), TEXT("q=\u3042"), "POST "},
      {kCharsetSjis, TEXT("post"), TEXT("q=\u3042"), "GET "},
      {kCharsetSjis, TEXT("POST"), TEXT(""), "POST "}};
  for (const auto& [charset, method, data, sent] : posts) {
    EXPECT_EQ(FetchFile({server_.Url("/form"), charset, -1, data, method}), 0);
    const Request request = server_.Requests().back();
    EXPECT_EQ(request.line.substr(0, request.line.find(' ') + 1) + request.body, sent);
  }
  EXPECT_EQ(server_.Requests().size(), before + 6);
}

// What fails leaves the old file as it was and nothing beside it; nothing is sent for a URL
// that cannot be split.
TEST_F(FetchTest, WhatFailsLeavesTheOldFileAsItWas) {
  server_.Add("/missing", "\x82\xa0?", R"("status":404)");
  ASSERT_TRUE(WriteFileBytes(out_, "old"));
  std::vector<std::pair<Call, int>> rows = {{At("/missing"), -107},
                                            {At("/missing", kCharsetBin), -107}};
  for (std::string url : {"", "not a url"}) rows.push_back({{url}, -113});
#if !defined(_WIN32)
  for (std::string url : {"http://", "ftp://host/x", "http://host:99999/"})
    rows.push_back({{url}, -113});
#endif
  for (const auto& [call, result] : rows) {
    SCOPED_TRACE(call.url);
    EXPECT_EQ(FetchFile(call), result);
    EXPECT_EQ(FetchText(call).first, result);
    EXPECT_EQ(ReadFileBytes(out_), "old");
    EXPECT_EQ(folder_.List(), Names{"out.csv"});
  }
  EXPECT_EQ(server_.Requests().size(), 4u);
  LPWSTR text = nullptr;
  EXPECT_EQ(GetUrlText(nullptr, TEXT(""), -1, nullptr, nullptr, TEXT("GET"), kCharsetSjis, &text),
            -113);
  const WString missing = Utf16(folder_.Join("missing/out.csv"));
  EXPECT_EQ(GetUrlFile(Utf16(server_.Url("/x")).c_str(), TEXT(""), -1, nullptr, nullptr,
                       TEXT("GET"), kCharsetBin, missing.c_str()),
            -111);
  EXPECT_EQ(server_.Requests().size(), 4u);
#if !defined(_WIN32)
  // Writes beyond a small file-size limit fail (SIGXFSZ ignored): -114, the old file kept.
  server_.Add("/big", std::string(5000, 'b'));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000;
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const int bin = FetchFile(At("/big", kCharsetBin)), sjis = FetchFile(At("/big"));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(bin, -114);
  EXPECT_EQ(sjis, -114);
  EXPECT_EQ(ReadFileBytes(out_), "old");
#endif
}

}  // namespace
}  // namespace zemlik::test
