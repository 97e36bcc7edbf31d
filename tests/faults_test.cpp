// The real binary against a server that misbehaves on purpose, reached as the HTTP proxy:
// every fault against one job (and a run ended by a signal as its body stalls), and a body
// that breaks off against every job. Each run pins the exit code, the whole output file (the
// old one kept wherever the answer was not whole), that nothing else is left in the folder,
// and that no run outlives the layer's time limit (2 s here) by much.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

const std::string kOld = "old,file\r\n";
const std::string kText = Cp932("一行目：海辺の図書館　第3巻～\n二行目：星をかぞえる猫\nend\n");

// A fault: the route's options (server.py names them) for a body of kText, what the job
// stores (kOld: it fails with exit 3), how many requests it makes, and a signal that ends it
// 1 s in (its status is then the signal's).
struct FaultRow {
  const char* fault;
  std::string options, stored;
  size_t requests = 1;
  int signal = 0;
};

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  // Runs the job over an existing output file with `body` and `options` answering every
  // request: the exit code and the whole file, and nothing else left in the folder.
  void Expect(const std::string& words, const std::string& body, const std::string& options,
              const std::string& stored, Env env = {}, int signal = 0) {
    server_.Clear();
    server_.Add("*", body, options);
    EXPECT_TRUE(WriteFileBytes(out_, kOld));
    env.insert({"ZEMLIK_INET_TIMEOUT_MS", "2000"});
    const Result r = RunJob(folder_.path(), server_, Words(words + "|/o:" + out_), env,
                            signal ? 1 : 30, signal ? signal : SIGKILL);
    EXPECT_EQ(r.exitCode, signal ? 128 + signal : stored == kOld ? 3 : 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(signal || (stored == kOld ? IsFailureReport(r.err) && r.err.ends_with(" was kept\n")
                                          : r.err.empty()))
        << r.err;
    const std::string file = ReadFileBytes(out_).value_or("(missing)");
    EXPECT_TRUE(file == stored) << file.substr(0, 200) << " (" << file.size() << " bytes)";
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"out.csv"});
  }

  TempFolder folder_;
  std::string out_ = folder_.Join("out.csv");
  Server server_;
};

TEST_F(FaultsTest, EveryFaultEndsAsItsRowSays) {
  const std::string whole = kText + "\r\n", redirect = R"("status":302,"headers":[["Location",")";
  std::string manyHeaders = "\"headers\":[";
  for (int i = 0; i < 1000; ++i)
    manyHeaders += "[\"X-Filler-" + std::to_string(i) + "\",\"" + std::string(83, 'f') + "\"],";
  manyHeaders.back() = ']';
  const FaultRow rows[] = {
      {"ok", "", whole},
      {"hugeheaders", manyHeaders, whole},
      {"nocontent", "\"status\":204", "\r\n"},
      {"notmodified", "\"status\":304", "\r\n"},  // no Location: the answer, and it has no body
      // The program asks for no encoding and decodes none: the compressed bytes are the
      // body. 1F 8B 08 00 read as code page 932: 8B is a lead byte and 08 no trail byte, so
      // U+30FB and then the 08.
      {"gzip", "\"gzip\":true", "\x1f\x81\x45\x08\r\n"},
      // More than announced: the body is what was announced.
      {"shortlength", "\"length\":" + std::to_string(kText.size() - 4),
       kText.substr(0, kText.size() - 4) + "\r\n"},
      // No response, an error status, or a body that is not whole is no answer.
      {"resetheaders", R"("raw_head":"HTTP/1.1 200 OK\r\nContent-Le")", kOld},
      {"hugeheaderline", R"("headers":[["X-Filler",")" + std::string(100 << 10, 'f') + R"("]])",
       kOld},
      {"redirectloop", redirect + "{target}\"]]", kOld, 11},
      // The redirect to the closed port goes to loopback directly, and is refused there.
      {"redirectclosed",
       redirect + "http://127.0.0.1:" + std::to_string(server_.ClosedPort()) + "\"]]", kOld},
      {"resetbody", "\"cut_after\":40,\"cut\":\"reset\"", kOld},
      {"stallheaders", "\"cut_after\":0,\"cut\":\"stall\"", kOld},
      {"stallbody+SIGTERM", "\"cut_after\":40,\"cut\":\"stall\"", kOld, 1, SIGTERM},
      {"longlength", "\"length\":4000000000", kOld},  // beyond what sizes the first piece
      {"badchunk", "\"chunked\":40,\"cut_after\":40,\"cut\":\"garbage\"", kOld},
      {"status404", "\"status\":404", kOld},
  };
  size_t requests = 0;
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(row.fault);
    Expect("/k:url|/u:http://files.example/data", kText, row.options, row.stored,
           {{"no_proxy", "127.0.0.1"}}, row.signal);
    EXPECT_EQ(server_.Requests().size(), requests += row.requests);
  }
  for (Request request : server_.Requests()) {  // no encoding is asked for
    std::transform(request.raw.begin(), request.raw.end(), request.raw.begin(), ::tolower);
    EXPECT_TRUE(request.raw.find("\naccept-encoding:") == std::string::npos &&
                request.raw.find("\nte:") == std::string::npos);
  }
}

TEST_F(FaultsTest, EveryJobKeepsTheOldFileWhenTheBodyBreaksOff) {
  const std::string unicode("\xff\xfe\x00\x4e\x4c\x88\xee\x76", 8),
      raw("PK\x03\x04\0\xff raw\r\n\0\x81\n", 16);
  const std::vector<std::pair<std::string, std::string>> jobs = {
      {"/k:url|/c:utf8", "一行目\n"}, {"/k:url|/c:unicode", unicode}, {"/k:url|/c:bin", raw},
      {"/k:comic-ta", kComicPage},    {"/k:bunko-ta", kBunkoPage},    {"/k:comic-wf", kBooklist}};
  for (const auto& [words, body] : jobs) {
    SCOPED_TRACE(words);
    const std::string bytes = words.starts_with("/k:url") ? body : Cp932(body);
    Expect(words + "|/d:2008/12|/u:http://files.example/d", bytes,
           "\"cut_after\":" + std::to_string(bytes.size() / 2) + ",\"cut\":\"reset\"", kOld);
  }
}

}  // namespace
}  // namespace zemlik::test
