// SendReqData and SendReqDataToFile against the test server.
#include "http/request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "http/trace_buffer.h"
#include "platform/routes.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

struct Args {
  std::string sv = "127.0.0.1", mtd = "GET", pg = "/";
  int port = -1;
  const char* pst = nullptr;
  BOOL secure = FALSE;
};

// SendReqData, or SendReqDataToFile into a new file, must give `result`; the body comes back.
// In memory: *body null at once, the length written on success only, a zero byte after it.
std::string Send(const Args& a, int result = kRequestOk) {
  LPSTR body = reinterpret_cast<LPSTR>(&body);
  DWORD length = 0xDEADBEEF;
  const int got = SendReqData(Utf16(a.sv).c_str(), Utf16(a.mtd).c_str(), Utf16(a.pg).c_str(),
                              a.port, nullptr, nullptr, a.pst, &body, &length, a.secure);
  EXPECT_EQ(got, result) << a.mtd << " " << a.pg;
  EXPECT_TRUE(got == kRequestOk || (body == nullptr && length == 0xDEADBEEF));
  if (got != kRequestOk) return "";
  EXPECT_EQ(body[length], '\0');
  const std::string whole(body, length);
  LocalFree(body);
  return whole;
}

std::string ToFile(const Args& a, int result = kRequestOk) {
  TempFolder folder;
  HANDLE file = CreateFileW(Utf16(folder.Join("body")).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const int got = SendReqDataToFile(Utf16(a.sv).c_str(), Utf16(a.mtd).c_str(), Utf16(a.pg).c_str(),
                                    a.port, nullptr, nullptr, a.pst, file, a.secure);
  EXPECT_EQ(got, result) << a.mtd << " " << a.pg << " into a file";
  CloseHandle(file);
  return ReadFileBytes(folder.Join("body")).value_or("");
}

class SendReqDataTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Args At(const std::string& pg) { return {.pg = pg, .port = server_.port()}; }

  ScopedEnv noProxy_ = ScopedEnv::NoProxy();
  ScopedEnv timeout_{{"ZEMLIK_INET_TIMEOUT_MS", "500"}};
  Server server_;
};

TEST_F(SendReqDataTest, TheRequestAndItsTraceLine) {
  server_.Add("*", "found");
  // Only the port's low 16 bits count; a GET never reads the post data.
  Args get = At("/a.csv?m=12");
  get.port += 65536, get.pst = reinterpret_cast<LPCSTR>(std::uintptr_t{0xfeed});
  ASSERT_EQ(Send(get), "found");
  EXPECT_EQ(Utf8(TraceBuffer), "SendReqData:sv=[127.0.0.1],mtd=[GET],pg=[/a.csv?m=12],pst=feed");
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n";
  const std::string agent =
      "User-Agent: HTTP_USER_AGENT:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; .NET CLR "
      "1.1.\r\n";
  EXPECT_EQ(server_.Requests().back().raw, "GET /a.csv?m=12 HTTP/1.1\r\n" + host + agent + "\r\n");
  Args post{.mtd = "POST", .pg = "/search", .port = server_.port()};
  for (const std::string data : {"q=%82%A0&x=\x82\xa0", ""}) {
    post.pst = data.empty() ? nullptr : "q=%82%A0&x=\x82\xa0\0tail";  // sent up to its zero byte
    EXPECT_EQ(Send(post), "found");
    const std::string counted = "Content-Length: " + std::to_string(data.size()) + "\r\n",
                      form = "Content-Type: application/x-www-form-urlencoded\r\n";
#if defined(_WIN32)  // WinINet writes Content-Length right after Host, libcurl last
    const std::string head = host + counted + agent + form;
#else
    const std::string head = host + agent + form + counted;
#endif
    EXPECT_EQ(server_.Requests().back().raw, "POST /search HTTP/1.1\r\n" + head + "\r\n" + data);
  }
  EXPECT_EQ(Utf8(TraceBuffer), "SendReqData:sv=[127.0.0.1],mtd=[POST],pg=[/search],pst=0");
}

// A whole body comes back whole; an error status, or a body that breaks off, is no answer.
TEST_F(SendReqDataTest, AnAnswerThatIsNotWholeFailsWithItsCause) {
  std::string big;
  for (int i = 0; big.size() < 3000000; ++i) big += std::to_string(i) + ",";
  const std::string aborted = ",error=" + std::to_string(ERROR_INTERNET_CONNECTION_ABORTED),
                    timeout = ",error=" + std::to_string(ERROR_INTERNET_TIMEOUT);
  const std::tuple<const char*, int, std::string> rows[] = {
    {"", kRequestOk, std::string("ab\0cd\0\0", 7)},
    {"", kRequestOk, big},                   // in one piece: its length was announced
    {R"("chunked":7777)", kRequestOk, big},  // in growing pieces, then joined
    // what the POSIX layer reports as the error; the system's WinINet has its own
    {R"("status":400)", kRequestHttpError, "status=400"},
    {R"("status":302,"headers":[["Location","/gone"]])", kRequestHttpError, "status=404"},
    {R"("cut_after":150000)", kRequestBodyBroken, "read=150000/300000" + aborted},
    {R"("cut_after":1000,"cut":"stall")", kRequestBodyBroken, "read=1000/300000" + timeout},
  // Wine's WinINet takes the close for the end of a chunked body, which announced no length.
#if !defined(_WIN32)
    {R"("chunked":4096,"cut_after":123456)", kRequestBodyBroken, "read=123456" + aborted},
#endif
  };
  for (const auto& [options, rc, expected] : rows) {
    SCOPED_TRACE(options + (" " + expected.substr(0, 20)));
    server_.Clear();
    server_.Add("/gone", "", R"("status":404)");  // where the redirect row leads
    server_.Add("*", rc == kRequestOk ? expected : std::string(300000, 'x'), options);
    std::string trace = "SendReqData:rc=" + std::to_string(rc) + "," + expected;
#if defined(_WIN32)
    if (trace.find("read=") != std::string::npos) trace.resize(trace.find("read=") + 5);
#endif
    for (auto send : {Send, ToFile}) {
      const std::string body = send(At("/"), rc);
      EXPECT_TRUE(rc != kRequestOk || body == expected) << body.size();
      EXPECT_TRUE(rc == kRequestOk || Utf8(TraceBuffer).starts_with(trace)) << Utf8(TraceBuffer);
    }
  }
}

// Without memory for a piece, the joining or the file's block (taken before connecting): -110.
TEST_F(SendReqDataTest, EachFailingStepHasItsCode) {
  server_.Add("/announced", std::string(300000, 'a'));
  server_.Add("/hang", "", R"("hang":true)");
  server_.Add("/chunked", std::string(300000, 'c'), R"("chunked":65536)");
  platform::ResetAllocationCountForTesting();
  Send(At("/chunked"));
  const unsigned long join = platform::AllocationCountForTesting();
  const Args closed{.port = server_.ClosedPort()};
  const std::tuple<decltype(&Send), Args, unsigned long> rows[] = {
      {Send, At("/announced"), 1}, {Send, At("/chunked"), join}, {ToFile, closed, 1}};
  for (const auto& [send, args, allocation] : rows) {
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(allocation);
    send(args, kRequestNoMemory);
    platform::SetAllocationFailureForTesting(0);
  }
  for (const Args& a : {At("/hang"), closed}) {
    for (auto send : {Send, ToFile}) send(a, kRequestGetFailed);
    Send({.mtd = "POST", .pg = a.pg, .port = a.port, .pst = "a=b"}, kRequestPostFailed);
  }
  Send({.sv = "", .port = server_.port()}, kRequestNoConnection);
#if defined(_WIN32)
  Send({.mtd = "PUT", .port = server_.port()}, kRequestHttpError);  // sent, and no page
#else
  Send({.mtd = "PUT", .port = server_.port()}, kRequestNoRequest);  // not offered
  Server tls(true);  // https, with the certificate verified
  tls.Add("*", "secret");
  ScopedEnv system({{"CURL_CA_BUNDLE", nullptr}, {"SSL_CERT_FILE", nullptr}});
  Send({.port = tls.port(), .secure = TRUE}, kRequestGetFailed);
  EXPECT_EQ(Utf8(TraceBuffer),  // the CA is not trusted
            "SendReqData:rc=" + std::to_string(kRequestGetFailed) + ",error=12045");
  const std::string ca = tls.CaFile();
  for (const auto& [bundle, file] : {std::pair{ca.c_str(), ""}, {"", ca.c_str()}}) {
    ScopedEnv trusted({{"CURL_CA_BUNDLE", bundle}, {"SSL_CERT_FILE", file}});
    EXPECT_EQ(Send({.port = tls.port(), .secure = TRUE}), "secret");  // or else SSL_CERT_FILE
  }
#endif
}

}  // namespace
}  // namespace zemlik::test
