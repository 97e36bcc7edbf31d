#include "http/request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "http/trace_buffer.h"
#include "platform/files.h"
#include "platform/inet.h"
#include "platform/memory.h"
#include "tests/support/http_fixture.h"
#include "tests/support/proxy_target.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ProxyTarget;
using zemlik::testing::Utf16;
using zemlik::testing::Utf8;
using zemlik::testing::WString;

const std::string kAgent =
    "HTTP_USER_AGENT:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; .NET CLR 1.1.";

struct Reply {
  int result = 0;
  std::string body;
};

struct Args {
  std::string sv = "127.0.0.1";
  WString mtd = TEXT("GET");
  std::string pg = "/";
  int port = -1;
  const WCHAR* user = nullptr;
  const WCHAR* password = nullptr;
  const char* pst = nullptr;
  BOOL secure = FALSE;
};

// Calls SendReqData and checks the out-parameter contract on the way.
Reply Send(const Args& a) {
  LPSTR body = reinterpret_cast<LPSTR>(&body);  // must be overwritten with null at once
  DWORD length = 0xDEADBEEF;
  Reply reply;
  reply.result = SendReqData(Utf16(a.sv).c_str(), a.mtd.c_str(), Utf16(a.pg).c_str(), a.port,
                             a.user, a.password, a.pst, &body, &length, a.secure);
  if (reply.result == 0) {
    EXPECT_NE(body, nullptr);
    if (body == nullptr) return reply;
    reply.body.assign(body, length);
    EXPECT_EQ(body[length], '\0');
    LocalFree(body);
  } else {
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(length, 0xDEADBEEF);
  }
  return reply;
}

class SendReqDataTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Args At(const std::string& pg) {
    Args a;
    a.pg = pg;
    a.port = server_.port();
    return a;
  }
  std::string Host() const { return "Host: 127.0.0.1:" + std::to_string(server_.port()); }

  ScopedNoProxy noProxy_;
  HttpFixture server_;
};

TEST_F(SendReqDataTest, GetSendsRequestLineHostAndAgentOnly) {
  server_.Route(HttpRoute("/list.csv?m=12", "a,b\r\n"));
  const char post[] = "ignored=1";
  Args a = At("/list.csv?m=12");
  a.pst = post;
  Reply r = Send(a);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, "a,b\r\n");
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].raw,
            "GET /list.csv?m=12 HTTP/1.1\r\n" + Host() + "\r\nUser-Agent: " + kAgent + "\r\n\r\n");

  char hex[32];
  std::snprintf(hex, sizeof hex, "%x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(post)));
  EXPECT_EQ(Utf8(TraceBuffer),
            "SendReqData:sv=[127.0.0.1],mtd=[GET],pg=[/list.csv?m=12],pst=" + std::string(hex));
}

TEST_F(SendReqDataTest, PostSendsTheFormHeaderAndTheDataUpToItsZeroByte) {
  server_.Route(HttpRoute("/search", "found"));
  Args a = At("/search");
  a.mtd = TEXT("POST");
  a.pst = "q=%82%A0&x=\x82\xa0\0tail";
  Reply r = Send(a);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, "found");
  a.pst = nullptr;
  EXPECT_EQ(Send(a).result, 0);
  EXPECT_EQ(Utf8(TraceBuffer), "SendReqData:sv=[127.0.0.1],mtd=[POST],pg=[/search],pst=0");

  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  // The same headers; WinINet writes Content-Length right after Host, libcurl last.
  auto head = [this](const std::string& length) {
    const std::string rest =
        "User-Agent: " + kAgent + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
#if defined(_WIN32)
    return "POST /search HTTP/1.1\r\n" + Host() + "\r\n" + length + rest + "\r\n";
#else
    return "POST /search HTTP/1.1\r\n" + Host() + "\r\n" + rest + length + "\r\n";
#endif
  };
  EXPECT_EQ(seen[0].raw, head("Content-Length: 13\r\n") + "q=%82%A0&x=\x82\xa0");
  EXPECT_EQ(seen[1].raw, head("Content-Length: 0\r\n"));
}

TEST_F(SendReqDataTest, PortRules) {
  server_.Route(HttpRoute("/p", "port"));
  Args a = At("/p");
  a.port = 65536 + server_.port();  // only the low 16 bits count
  EXPECT_EQ(Send(a).body, "port");
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].requestLine, "GET /p HTTP/1.1");
}

// Through the fixture as proxy, the port each call asks for shows in the request line.
// The proxy is set before the first request: WinINet reads it once per process.
TEST_F(SendReqDataTest, PortRulesThroughAProxy) {
  ScopedEnvVar proxy("http_proxy", server_.BaseUrl());
  server_.Route(HttpRoute("/p", "port"));
  Args a = At("/p");
  a.sv = "shop.invalid";
  a.port = -1;
  EXPECT_EQ(Send(a).body, "port");
  a.port = 0;
  EXPECT_EQ(Send(a).body, "port");
  a.port = 8080;
  EXPECT_EQ(Send(a).body, "port");
  auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 3u);
  const std::string byDefault = "GET " + ProxyTarget("shop.invalid", "/p") + " HTTP/1.1";
  EXPECT_EQ(seen[0].requestLine, byDefault);
  EXPECT_EQ(seen[0].Header("Host"), "shop.invalid");
  EXPECT_EQ(seen[1].requestLine, byDefault);
  EXPECT_EQ(seen[2].requestLine, "GET http://shop.invalid:8080/p HTTP/1.1");
  EXPECT_EQ(seen[2].Header("Host"), "shop.invalid:8080");
}

TEST_F(SendReqDataTest, BodiesComeBackWholeWithATerminatingZero) {
  std::string zeros("ab\0cd\0\0", 7);
  std::string block(102400, 'q');
  std::string piece;
  for (int i = 0; piece.size() < 10000; ++i) piece += std::to_string(i) + ",";
  std::string big;
  for (int i = 0; i < 300; ++i) big += piece;
  server_.Route(HttpRoute("/empty"));
  server_.Route(HttpRoute("/block", block));
  server_.Route(HttpRoute("/zeros", zeros));
  server_.Route(HttpRoute("/chunked", piece).Repeat(300).Chunked(7777));
  server_.Route(HttpRoute("/big", piece).Repeat(300));
  server_.Route(HttpRoute("/moved").Status(301, "Moved").Header("Location", "/zeros"));
  server_.Route(HttpRoute("/unfollowed", "see elsewhere").Status(302, "Found"));
  server_.Route(HttpRoute("/toclose", "to the close").NoLength());

  Reply r = Send(At("/empty"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, "");
  r = Send(At("/block"));
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(r.body == block);
  r = Send(At("/zeros"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, zeros);
  r = Send(At("/chunked"));
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(r.body == big);
  r = Send(At("/big"));
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(r.body == big);
  r = Send(At("/moved"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, zeros);
  // A redirect without a place to go is an answer like any other.
  r = Send(At("/unfollowed"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, "see elsewhere");
  r = Send(At("/toclose"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, "to the close");
}

// An error status, or a body that breaks off or ends short of its length, is no answer:
// both routines fail, drop what arrived, and trace the cause in one more line.
TEST_F(SendReqDataTest, AnAnswerThatIsNotWholeFailsWithItsCause) {
  ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", "500");
  const std::string body(300000, 'x');
  server_.Route(HttpRoute("/missing", "<html>not here</html>").Status(404, "Not Found"));
  server_.Route(HttpRoute("/failed", "oops").Status(500, "Internal Server Error"));
  server_.Route(HttpRoute("/cut", body).BreakAfter(150000));
  server_.Route(HttpRoute("/cutchunked", body).Chunked(4096).BreakAfter(123456));
  server_.Route(HttpRoute("/stall", body).StallAfter(1000));
  struct Row {
    const char* target;
    int result;
    std::string cause;
    DWORD error;  // what the POSIX layer reports; the system's WinINet has its own
  } rows[] = {
      {"/missing", -107, "status=404", 0},
      {"/failed", -107, "status=500", 0},
      {"/cut", -106, "read=150000/300000", ERROR_INTERNET_CONNECTION_ABORTED},
      {"/stall", -106, "read=1000/300000", ERROR_INTERNET_TIMEOUT},
#if !defined(_WIN32)
      // Wine's WinINet takes the close for the end of a chunked body, which announced no
      // length to check it by; and it drops what arrived before a stall.
      {"/cutchunked", -106, "read=123456", ERROR_INTERNET_CONNECTION_ABORTED},
#endif
  };
  zemlik::testing::TempFolder folder;
  const WString path = Utf16(folder.Join("body.bin"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    std::string trace = "SendReqData:rc=" + std::to_string(row.result) + "," + row.cause;
#if defined(_WIN32)
    if (trace.find("read=") != std::string::npos) trace.resize(trace.find("read=") + 5);
#else
    if (row.error != 0) trace += ",error=" + std::to_string(row.error);
#endif
    EXPECT_EQ(Send(At(row.target)).result, row.result);
    EXPECT_EQ(Utf8(TraceBuffer).substr(0, trace.size()), trace);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(SendReqDataToFile(TEXT("127.0.0.1"), TEXT("GET"), Utf16(row.target).c_str(),
                                server_.port(), nullptr, nullptr, nullptr, file),
              row.result);
    CloseHandle(file);
    EXPECT_EQ(Utf8(TraceBuffer).substr(0, trace.size()), trace);
  }
}

TEST_F(SendReqDataTest, EachFailingStepHasItsCode) {
  ScopedEnvVar timeout("ZEMLIK_INET_TIMEOUT_MS", "500");
  server_.Route(HttpRoute("/hang").Hang());
  EXPECT_EQ(Send(At("/hang")).result, -105);
  Args post = At("/hang");
  post.mtd = TEXT("POST");
  post.pst = "a=b";
  EXPECT_EQ(Send(post).result, -104);

  Args refused = At("/");
  refused.port = HttpFixture::UnusedPort();
  EXPECT_EQ(Send(refused).result, -105);
  refused.mtd = TEXT("POST");
  EXPECT_EQ(Send(refused).result, -104);

  Args noHost = At("/");
  noHost.sv = "";
  EXPECT_EQ(Send(noHost).result, -102);
  Args verb = At("/");
  verb.mtd = TEXT("PUT");
#if defined(_WIN32)
  // The system's WinINet sends any verb (the fixture has no page for it); the POSIX layer
  // opens no request for one.
  EXPECT_EQ(Send(verb).result, -107);
  EXPECT_EQ(server_.Requests().size(), 3u);
#else
  EXPECT_EQ(Send(verb).result, -103);
  EXPECT_EQ(server_.Requests().size(), 2u);
#endif
}

TEST_F(SendReqDataTest, NoMemoryWhileTheBodyGrowsFreesEverything) {
  std::string body;
  for (int i = 0; body.size() < 1500000; ++i) body += std::to_string(i) + " ";
  server_.Route(HttpRoute("/announced", body));
  server_.Route(HttpRoute("/chunked", body).Chunked(65536));
  // With a Content-Length the body is read into one block. Without one it grows in pieces
  // of 200, 400, 800 and 1600 KiB that are then joined.
  for (auto [target, allocations] : {std::pair{"/announced", 1}, std::pair{"/chunked", 5}}) {
    int failures = 0;
    for (unsigned long n = 1;; ++n) {
      platform::ResetAllocationCountForTesting();
      platform::SetAllocationFailureForTesting(n);
      Reply r = Send(At(target));
      platform::SetAllocationFailureForTesting(0);
      if (r.result == 0) {
        EXPECT_TRUE(r.body == body);
        break;
      }
      EXPECT_EQ(r.result, -110) << "allocation " << n;
      ++failures;
      ASSERT_LT(n, 100u);
    }
    EXPECT_EQ(failures, allocations) << target;
  }
}

TEST_F(SendReqDataTest, ToFileWritesTheBodyAsItArrives) {
  zemlik::testing::TempFolder folder;
  std::string piece;
  for (int i = 0; piece.size() < 10000; ++i) piece += std::to_string(i) + ",";
  std::string big;
  for (int i = 0; i < 300; ++i) big += piece;
  server_.Route(HttpRoute("/big", piece).Repeat(300));
  server_.Route(HttpRoute("/chunked", piece).Repeat(300).Chunked(7777));
  server_.Route(HttpRoute("/zeros", std::string("a\0b", 3)));
  server_.Route(HttpRoute("/empty"));
  struct Case {
    const char* target;
    std::string bytes;
  } cases[] = {{"/big", big},
               {"/chunked", big},
               {"/zeros", std::string("a\0b", 3)},
               {"/empty", ""}};
  std::string path = folder.Join("body.bin");
  for (const Case& c : cases) {
    HANDLE file = CreateFileW(Utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string pg = c.target;
    int result = SendReqDataToFile(TEXT("127.0.0.1"), TEXT("GET"), Utf16(pg).c_str(),
                                   server_.port(), nullptr, nullptr, nullptr, file);
    CloseHandle(file);
    EXPECT_EQ(result, 0) << c.target;
    EXPECT_TRUE(zemlik::testing::ReadFileBytes(path) == c.bytes) << c.target;
  }
  EXPECT_EQ(Utf8(TraceBuffer), "SendReqData:sv=[127.0.0.1],mtd=[GET],pg=[/empty],pst=0");

  HANDLE file = CreateFileW(Utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  int result = SendReqDataToFile(TEXT("127.0.0.1"), TEXT("GET"), TEXT("/big"), server_.port(),
                                 nullptr, nullptr, nullptr, file);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_EQ(result, -110);
  EXPECT_EQ(SendReqDataToFile(TEXT("127.0.0.1"), TEXT("GET"), TEXT("/x"), HttpFixture::UnusedPort(),
                              nullptr, nullptr, nullptr, file),
            -105);
  CloseHandle(file);
  EXPECT_EQ(server_.Requests().size(), 4u);
}

TEST(SendReqDataTls, HttpsVerifiesTheCertificate) {
  if (const char* why = HttpFixture::CaTrustUnavailable()) GTEST_SKIP() << why;
  ScopedNoProxy noProxy;
  HttpFixture server({.tls = true});
  ASSERT_TRUE(server.ok());
  server.Route(HttpRoute("/secure", "secret"));
  Args a;
  a.pg = "/secure";
  a.port = server.port();
  a.secure = TRUE;
  {
    ScopedEnvVar ca("CURL_CA_BUNDLE", server.CaFile());
    Reply r = Send(a);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.body, "secret");
  }
  ScopedEnvVar ca("CURL_CA_BUNDLE", nullptr);
  ScopedEnvVar file("SSL_CERT_FILE", nullptr);
  EXPECT_EQ(Send(a).result, -105);
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
