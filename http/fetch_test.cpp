// GetUrlText and GetUrlFile: what they add to the request, and their codes.
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
#include "http/request.h"
#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Text = std::optional<WString>;

struct Call {
  std::string url;
  LPCWSTR charset = kCharsetSjis;
  int port = -1;
  WString postData, method = TEXT("GET");
};

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Call At(std::string pg, LPCWSTR charset = kCharsetSjis) { return {server_.Url(pg), charset}; }
  // GetUrlText, then GetUrlFile: both results, the text handed back (nullopt for null; *text is
  // left alone on failure) and what the output file then holds.
  std::tuple<int, Text, int, std::string> Fetch(const Call& c) {
    const WString url = Utf16(c.url);
    LPWSTR text = reinterpret_cast<LPWSTR>(&text);
    const int result = GetUrlText(url.c_str(), c.postData.c_str(), c.port, nullptr, nullptr,
                                  c.method.c_str(), c.charset, &text);
    EXPECT_TRUE(result == kFetchOk || text == reinterpret_cast<LPWSTR>(&text));
    const Text out = result == kFetchOk && text != nullptr ? Text(text) : std::nullopt;
    if (result == kFetchOk) LocalFree(text);
    const int written = GetUrlFile(url.c_str(), c.postData.c_str(), c.port, nullptr, nullptr,
                                   c.method.c_str(), c.charset, Utf16(out_).c_str());
    return {result, out, written, ReadFileBytes(out_).value_or("")};
  }

  ScopedEnv noProxy_ = ScopedEnv::NoProxy();
  Server server_;
  TempFolder folder_;
  std::string out_ = folder_.Join("out.csv");
};

TEST_F(FetchTest, ThePageIsPathAndExtraOnTheUrlsHostAndPort) {
  server_.Add("*", "x");
  const std::pair<Call, std::string> rows[] = {
    {At("/list.csv?m=12"), "/list.csv?m=12"},
    {At("?q"), "/?q"},
    {At(""), "/"},
  // The system's WinINet sends the fragment, and escapes otherwise.
#if defined(_WIN32)
    {At("/a/b.html#top"), "/a/b.html#top"},
#else
    {At("/a/b.html#top"), "/a/b.html"},
    {At("/a b/\u3042?q=\t"), "/a%20b/%E3%81%82?q=%09"},
#endif
  };
  for (const auto& [call, page] : rows) {
    ASSERT_EQ(std::get<0>(Fetch(call)), kFetchOk) << call.url;
    EXPECT_EQ(server_.Requests().back().line, "GET " + page + " HTTP/1.1") << call.url;
  }
}

// WinINet reads the proxy once per process: this case has a process of its own.
TEST_F(FetchTest, ThroughAProxyTheUrlsPortOrTheGivenOneIsNamed) {
  ScopedEnv proxy({{"http_proxy", server_.Url().c_str()}});
  server_.Add("*", "x");
  const std::tuple<const char*, int, std::string> rows[] = {
      {"http://s/default", -1, ProxyGet("s", "/default")},
      {"http://shop.invalid:8080/own", -1, "GET http://shop.invalid:8080/own HTTP/1.1"},
      {"http://shop.invalid:8080/caller", 81, "GET http://shop.invalid:81/caller HTTP/1.1"},
      {"http://shop.invalid:8080/zero", 0, ProxyGet("shop.invalid", "/zero")}};  // the default
  for (const auto& [url, port, line] : rows) {
    ASSERT_EQ(std::get<0>(Fetch({url, kCharsetSjis, port})), kFetchOk) << url;
    EXPECT_EQ(server_.Requests().back().line, line);
  }
}

TEST_F(FetchTest, TheCharsetDecidesTheTextTheFileAndThePostData) {
  // Each allocation of a POST failing in turn: a no-memory code, no text, no data left out.
  server_.Add("*", "x");
  for (int n = 1, result = kFetchNoMemory; result != kFetchOk; ++n) {
    platform::SetAllocationFailureForTesting(platform::AllocationCountForTesting() + n);
    result = std::get<0>(Fetch({server_.Url("/"), kCharsetUtf8, -1, TEXT("q"), TEXT("POST")}));
    platform::SetAllocationFailureForTesting(0);
    ASSERT_TRUE(result == kFetchOk || result == kFetchNoMemory || result == kRequestNoMemory) << n;
  }
  for (const Request& request : server_.Requests()) EXPECT_EQ(request.body, "q");
  const std::string zeros("ab\0cd", 5), le("\xff\xfe\x42\x30\x41\x00", 6),
      be("\xfe\xff\x30\x42\x00\x41\x00", 7), noMark("\x42\x30\x41\x00\x00\x00\x42\x00", 8);
  // The body served, the charset; the text handed back, what the file holds, the post data sent.
  const std::tuple<std::string, LPCWSTR, Text, std::string, std::string> rows[] = {
      {"\x82\xa0\r\nb", kCharsetSjis, TEXT("\u3042\r\nb"), "\x82\xa0\r\nb\r\n", "q=\x82\xa0"},
      {zeros, kCharsetSjis, TEXT("ab"), "ab\r\n", "q=\x82\xa0"},
      {zeros, kCharsetBin, std::nullopt, zeros, ""},
      {"\xe3\x81\x82x", kCharsetUtf8, TEXT("\u3042x"), "\x82\xa0x\r\n", "q=\xe3\x81\x82"},
      {le, kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n", ""},
      {be, kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n", ""},
      {noMark, kCharsetUnicode, std::nullopt, "\x82\xa0\x41\r\n", ""},
      {"A", kCharsetUnicode, std::nullopt, "\r\n", ""},  // no whole unit
      {"", kCharsetSjis, TEXT(""), "\r\n", "q=\x82\xa0"},
  };
  for (const auto& [served, charset, text, file, sent] : rows) {
    SCOPED_TRACE(::testing::PrintToString(served) + " " + Utf8(charset));
    server_.Clear();
    server_.Add("*", served);
    ASSERT_EQ(Fetch({server_.Url("/"), charset, -1, TEXT("q=\u3042"), TEXT("POST")}),
              std::tuple(kFetchOk, text, kFetchOk, file));
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"out.csv"});
    for (const Request& request : {server_.Requests().end()[-2], server_.Requests().back()})
      EXPECT_EQ(request.line + " " + request.body, "POST / HTTP/1.1 " + sent);
  }
  EXPECT_EQ(std::get<0>(Fetch({server_.Url("/"), kCharsetSjis, -1, TEXT("q"), TEXT("post")})),
            kFetchOk);
  EXPECT_EQ(server_.Requests().back().line, "GET / HTTP/1.1");  // "POST" exactly sends post data
}

// What fails leaves the old file as it was and nothing beside it. Nothing is sent for a URL that
// cannot be split, nor when the output file cannot be made (checked before connecting).
TEST_F(FetchTest, WhatFailsLeavesTheOldFileAsItWas) {
  server_.Add("/missing", "\x82\xa0?", R"("status":404)");
  ASSERT_TRUE(WriteFileBytes(out_, "old"));
  const std::pair<Call, int> rows[] = {{At("/missing"), kRequestHttpError},
                                       {At("/missing", kCharsetBin), kRequestHttpError},
                                       {{""}, kFetchBadUrl},
                                       {{"not a url"}, kFetchBadUrl}};
  for (const auto& [call, result] : rows) {
    SCOPED_TRACE(call.url);
    EXPECT_EQ(Fetch(call), std::tuple(result, Text(), result, std::string("old")));
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"out.csv"});
  }
  EXPECT_EQ(GetUrlFile(nullptr, nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr),
            kFetchBadUrl);
  EXPECT_EQ(server_.Requests().size(), 4u);
#if !defined(_WIN32)
  // Writes beyond a small file-size limit fail (SIGXFSZ ignored), the old file kept.
  server_.Add("/big", std::string(5000, 'b'));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const rlimit small{1000, old.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const auto bin = Fetch(At("/big", kCharsetBin)), sjis = Fetch(At("/big"));
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(std::tuple(std::get<2>(bin), std::get<2>(sjis), std::get<3>(sjis)),
            std::tuple(kRequestWriteFailed, kFetchWriteFailed, std::string("old")));
#endif
  out_ = folder_.Join("missing/out.csv");
  EXPECT_EQ(std::get<2>(Fetch({server_.Url("/x"), kCharsetBin, server_.ClosedPort()})),
            kFetchNoOutputFile);
}

}  // namespace
}  // namespace zemlik::test
