// SendReqData and SendReqDataToFile against the test server: the request as it goes out,
// the body as it comes back, what is not a whole answer, and each failing step's code.
#include "http/request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>

#include "http/trace_buffer.h"
#include "platform/files.h"
#include "platform/inet.h"
#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

struct Args {
  std::string sv = "127.0.0.1", mtd = "GET", pg = "/";
  int port = -1;
  const char* pst = nullptr;
  BOOL secure = FALSE;
};

struct Reply {
  int result = 0;
  std::string body;
};

// SendReqData, checking its out-parameters on the way: *body null at once, the length
// written on success only, the body followed by a zero byte.
Reply Send(const Args& a) {
  LPSTR body = reinterpret_cast<LPSTR>(&body);
  DWORD length = 0xDEADBEEF;
  Reply reply{SendReqData(Utf16(a.sv).c_str(), Utf16(a.mtd).c_str(), Utf16(a.pg).c_str(), a.port,
                          nullptr, nullptr, a.pst, &body, &length, a.secure)};
  if (reply.result != kRequestOk) {
    EXPECT_TRUE(body == nullptr && length == 0xDEADBEEF);
    return reply;
  }
  reply.body.assign(body, length);
  EXPECT_EQ(body[length], '\0');
  LocalFree(body);
  return reply;
}

class SendReqDataTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  Args At(const std::string& pg) { return {.pg = pg, .port = server_.port()}; }
  // SendReqDataToFile of `pg` into a file: the result, and what the file holds.
  Reply ToFile(const std::string& pg, int port = 0) {
    HANDLE file = CreateFileW(Utf16(folder_.Join("body")).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Reply reply{SendReqDataToFile(TEXT("127.0.0.1"), TEXT("GET"), Utf16(pg).c_str(),
                                  port ? port : server_.port(), nullptr, nullptr, nullptr, file)};
    CloseHandle(file);
    reply.body = ReadFileBytes(folder_.Join("body")).value_or("");
    return reply;
  }

  ScopedEnv noProxy_ = ScopedEnv::NoProxy();
  ScopedEnv timeout_{{"ZEMLIK_INET_TIMEOUT_MS", "500"}};
  Server server_;
  TempFolder folder_;
};

TEST_F(SendReqDataTest, TheRequestAndItsTraceLine) {
  server_.Add("*", "found");
  Args get = At("/list.csv?m=12");
  get.pst = "ignored=1";
  get.port += 65536;  // only the low 16 bits count
  EXPECT_EQ(Send(get).body, "found");
  char pst[32];
  std::snprintf(pst, sizeof pst, "%x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(get.pst)));
  EXPECT_EQ(Utf8(TraceBuffer),
            "SendReqData:sv=[127.0.0.1],mtd=[GET],pg=[/list.csv?m=12],pst=" + std::string(pst));
  Args post = At("/search");
  post.mtd = "POST";
  post.pst = "q=%82%A0&x=\x82\xa0\0tail";  // sent up to its zero byte
  EXPECT_EQ(Send(post).body, "found");
  post.pst = nullptr;
  EXPECT_EQ(Send(post).body, "found");
  EXPECT_EQ(Utf8(TraceBuffer), "SendReqData:sv=[127.0.0.1],mtd=[POST],pg=[/search],pst=0");
  const auto seen = server_.Requests();
  ASSERT_EQ(seen.size(), 3u);
  const std::string
      host = "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n",
      agent =
          "User-Agent: HTTP_USER_AGENT:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; .NET CLR "
          "1.1.\r\n",
      form = "Content-Type: application/x-www-form-urlencoded\r\n";
  EXPECT_EQ(seen[0].raw, "GET /list.csv?m=12 HTTP/1.1\r\n" + host + agent + "\r\n");
  // WinINet writes Content-Length right after Host, libcurl last.
  for (auto [request, length, data] :
       {std::tuple{seen[1], "13", "q=%82%A0&x=\x82\xa0"}, {seen[2], "0", ""}}) {
    const std::string counted = "Content-Length: " + std::string(length) + "\r\n";
#if defined(_WIN32)
    EXPECT_EQ(request.raw,
              "POST /search HTTP/1.1\r\n" + host + counted + agent + form + "\r\n" + data);
#else
    EXPECT_EQ(request.raw,
              "POST /search HTTP/1.1\r\n" + host + agent + form + counted + "\r\n" + data);
#endif
  }
}

// In memory the body is gathered in growing pieces (one when its length was announced) and
// joined; into a file it is written block by block.
TEST_F(SendReqDataTest, BodiesComeBackWholeInMemoryAndInTheFile) {
  std::string piece;
  for (int i = 0; piece.size() < 10000; ++i) piece += std::to_string(i) + ",";
  std::string big;
  for (int i = 0; i < 300; ++i) big += piece;
  const std::string zeros("ab\0cd\0\0", 7);
  server_.Add("/empty");
  server_.Add("/zeros", zeros);
  server_.Add("/chunked", piece, R"("repeat":300,"chunked":7777)");
  server_.Add("/big", piece, R"("repeat":300)");
  server_.Add("/block", std::string(102400, 'q'));
  for (auto [pg, body] : {std::pair{"/empty", std::string()},
                          {"/zeros", zeros},
                          {"/chunked", big},
                          {"/big", big},
                          {"/block", std::string(102400, 'q')}}) {
    SCOPED_TRACE(pg);
    for (const Reply& reply : {Send(At(pg)), ToFile(pg)}) {
      EXPECT_EQ(reply.result, kRequestOk);
      EXPECT_TRUE(reply.body == body) << reply.body.size();
    }
  }
}

// An error status, or a body that breaks off or ends short of its length, is no answer:
// both routines fail, drop what arrived, and trace the cause in one more line.
TEST_F(SendReqDataTest, AnAnswerThatIsNotWholeFailsWithItsCause) {
  const std::string body(300000, 'x');
  server_.Add("/missing", "<html>not here</html>", R"("status":404)");
  server_.Add("/failed", "oops", R"("status":500)");
  server_.Add("/cut", body, R"("cut_after":150000)");
  server_.Add("/stall", body, R"("cut_after":1000,"cut":"stall")");
  server_.Add("/cutchunked", body, R"("chunked":4096,"cut_after":123456)");
  const std::tuple<const char*, int, std::string, DWORD> rows[] = {
    // what the POSIX layer reports as the error; the system's WinINet has its own
    {"/missing", kRequestHttpError, "status=404", 0},
    {"/failed", kRequestHttpError, "status=500", 0},
    {"/cut", kRequestBodyBroken, "read=150000/300000", ERROR_INTERNET_CONNECTION_ABORTED},
    {"/stall", kRequestBodyBroken, "read=1000/300000", ERROR_INTERNET_TIMEOUT},
  // Wine's WinINet takes the close for the end of a chunked body, which announced no length.
#if !defined(_WIN32)
    {"/cutchunked", kRequestBodyBroken, "read=123456", ERROR_INTERNET_CONNECTION_ABORTED},
#endif
  };
  for (const auto& [pg, result, cause, error] : rows) {
    SCOPED_TRACE(pg);
    std::string trace = "SendReqData:rc=" + std::to_string(result) + "," + cause;
#if defined(_WIN32)
    if (trace.find("read=") != std::string::npos) trace.resize(trace.find("read=") + 5);
#else
    if (error != 0) trace += ",error=" + std::to_string(error);
#endif
    for (bool file : {false, true}) {
      EXPECT_EQ(file ? ToFile(pg).result : Send(At(pg)).result, result);
      EXPECT_EQ(Utf8(TraceBuffer).substr(0, trace.size()), trace);
    }
  }
}

TEST_F(SendReqDataTest, EachFailingStepHasItsCode) {
  server_.Add("/hang", "", R"("hang":true)");
  for (Args a : {At("/hang"), Args{.port = server_.ClosedPort()}}) {
    EXPECT_EQ(Send(a).result, kRequestGetFailed);
    a.mtd = "POST";
    a.pst = "a=b";
    EXPECT_EQ(Send(a).result, kRequestPostFailed);
  }
  EXPECT_EQ(ToFile("/x", server_.ClosedPort()).result, kRequestGetFailed);
  EXPECT_EQ(Send({.sv = "", .port = server_.port()}).result, kRequestNoConnection);
#if defined(_WIN32)
  EXPECT_EQ(Send({.mtd = "PUT", .port = server_.port()}).result,
            kRequestHttpError);  // sent; no page
#else
  EXPECT_EQ(Send({.mtd = "PUT", .port = server_.port()}).result, kRequestNoRequest);  // not offered
#endif
  // Https with the certificate verified.
#if !defined(_WIN32)
  Server tls(true);
  tls.Add("*", "secret");
  const Args secure{.port = tls.port(), .secure = TRUE};
  EXPECT_EQ(Send(secure).result, kRequestGetFailed);
  EXPECT_EQ(Utf8(TraceBuffer),
            "SendReqData:rc=-105,error=" + std::to_string(ERROR_INTERNET_INVALID_CA));
  ScopedEnv ca({{"CURL_CA_BUNDLE", tls.CaFile().c_str()}});
  EXPECT_EQ(Send(secure).body, "secret");
#endif
}

// Out of memory for the first piece, or for joining the pieces of a body that announced no
// length: -110, everything freed. The file variant's block is taken before anything is sent.
TEST_F(SendReqDataTest, NoMemoryForTheBodyFreesEverything) {
  server_.Add("/announced", std::string(300000, 'a'));
  server_.Add("/chunked", std::string(300000, 'c'), R"("chunked":65536)");
  platform::ResetAllocationCountForTesting();
  ASSERT_EQ(Send(At("/chunked")).result, kRequestOk);
  const unsigned long join = platform::AllocationCountForTesting();
  for (auto [pg, failing] : {std::pair{"/announced", 1ul}, {"/chunked", 1ul}, {"/chunked", join}}) {
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failing);
    EXPECT_EQ(Send(At(pg)).result, kRequestNoMemory) << pg << " " << failing;
    platform::SetAllocationFailureForTesting(0);
  }
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  EXPECT_EQ(ToFile("/announced").result, kRequestNoMemory);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_EQ(server_.Requests().size(), 4u);
}

}  // namespace
}  // namespace zemlik::test
