// Every network job against a server that misbehaves on purpose (tests/support/
// fault_server.py), reached through http_proxy: the exit code, the whole output file, an
// existing file kept wherever the answer was not a whole body, nothing left behind, and no
// run that outlives the layer's time limit (shortened to 2 s here) by much.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/cp932.h"
#include "tests/support/fault_server.h"
#include "tests/support/http_fixture.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::Cp932;
using zemlik::testing::FaultServer;
using zemlik::testing::ProcessResult;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::RunZemlikWithin;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WriteFileBytes;

using Env = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

// On Windows the fault meets the system's WinINet. The suites run it under wine, whose
// WinINet answers some faults otherwise than the POSIX layer; those rows say what it does
// and skip there.
#if defined(_WIN32)
constexpr bool kSystemInet = true;
#else
constexpr bool kSystemInet = false;
#endif

// Each run is killed after this long: every fault here ends within a few of the shortened
// time limits, and a run still waiting on the layer's default 60 s limit is caught.
constexpr int kDeadlineSeconds = 30;
constexpr char kTimeLimitMs[] = "2000";
const std::string kOldFile = "old,file\r\n";

std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (char16_t unit : Utf16(utf8)) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

// Pads the shorter of two texts with `pad` until both are as long, so that a fault that
// sends half of their concatenation sends exactly the first.
void Balance(std::string* first, std::string* second, const std::string& pad) {
  std::string* shorter = first->size() < second->size() ? first : second;
  const std::string* longer = shorter == first ? second : first;
  while (shorter->size() < longer->size()) *shorter += pad;
  EXPECT_EQ(first->size(), second->size());
}

// A job, the body it is served in two halves of equal length, and the output file it
// should leave for the whole body, for its first half only, and for an empty body.
struct Job {
  std::string name;
  std::vector<std::string> args;
  std::string first;
  std::string second;
  std::string whole;
  std::string half;
  std::string none;
  std::string gzip;  // the file for the gzip-compressed body (not used for raw downloads)
};

// 1F 8B 08 00 read as code page 932: 8B is a lead byte and 08 no trail byte. glibc gives
// U+30FB and then the 08; the Windows table gives U+30FB for the pair.
const std::string kGzipAsCp932 = kSystemInet ? "\x1f\x81\x45\r\n" : "\x1f\x81\x45\x08\r\n";

const std::string kComicHeader = "date,company,title,author,price,memo\r\n";
const std::string kBunkoHeader = "date,company,category,title,author,price\r\n";

// A text job of kind url: `first` and `second` are the body halves as sent, `text` turns
// a body into the text the file should hold.
Job UrlTextJob(const std::string& charset, std::string first, std::string second,
               const std::string& pad, std::string (*text)(const std::string&), std::string gzip) {
  Balance(&first, &second, pad);
  Job job;
  job.name = "url " + charset;
  job.args = {"/k:url", "/u:http://files.example/data.txt", "/c:" + charset};
  job.whole = text(first + second) + "\r\n";
  job.half = text(first) + "\r\n";
  job.none = "\r\n";
  job.first = std::move(first);
  job.second = std::move(second);
  job.gzip = std::move(gzip);
  return job;
}

std::vector<Job> Jobs() {
  std::vector<Job> jobs;

  // Code page 932 text is stored byte for byte; UTF-8 and UTF-16 text is stored in it.
  jobs.push_back(UrlTextJob(
      "sjis", Cp932("一行目：海辺の図書館　第3巻～\n"), Cp932("二行目：星をかぞえる猫\n"), " ",
      [](const std::string& body) { return body; }, kGzipAsCp932));
  jobs.push_back(UrlTextJob(
      "utf8", "一行目：海辺の図書館　第3巻～\n", "二行目：星をかぞえる猫\n", " ",
      [](const std::string& body) { return Cp932(body); }, "\x1f\x08\r\n"));
  jobs.push_back(UrlTextJob(
      "unicode", "\xff\xfe" + Utf16Le("一行目：海辺の図書館　第3巻～\n"),
      Utf16Le("二行目：星をかぞえる猫\n"), Utf16Le(" "),
      [](const std::string& body) {
        std::string utf8;
        for (size_t i = 2; i + 1 < body.size(); i += 2) {
          const char16_t unit = static_cast<unsigned char>(body[i]) |
                                static_cast<char16_t>(static_cast<unsigned char>(body[i + 1]) << 8);
          utf8 += zemlik::testing::Utf8(zemlik::testing::WString(1, static_cast<WCHAR>(unit)));
        }
        return Cp932(utf8);
      },
      // 1F 8B 08 00 as UTF-16: U+8B1F, which code page 932 lacks, then U+0008.
      "?\x08\r\n"));

  Job raw;
  raw.name = "url bin";
  raw.args = {"/k:url", "/u:http://files.example/data.bin", "/c:bin"};
  raw.first = std::string("PK\x03\x04\0\0\xff\x80 first half\r\n", 20);
  raw.second = std::string("\0\x81 second half\n", 15);
  Balance(&raw.first, &raw.second, std::string(1, '\0'));
  raw.whole = raw.first + raw.second;
  raw.half = raw.first;
  raw.none = "";
  jobs.push_back(raw);

  Job comic;
  comic.name = "comic-ta";
  comic.args = {"/k:comic-ta", "/d:2008/12"};
  comic.first = Cp932(
      "<html><body>\r\n<p>全3件中 1～3件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
      "<li>12/05　　講談社　　海辺の図書館　第3巻　　青山ミナト　　\\450　　新刊　　</li>\r\n"
      "<li>12/12　　集英社　　星をかぞえる猫　　小川ひより　　\\420　　　　</li>\r\n");
  comic.second = Cp932(
      "<li>12/19　　小学館　　鉄路のむこう　　北村サトシ　　\\550　　初回限定版あり　　</li>\r\n"
      "</ul></td></tr></table>\r\n</body></html>\r\n");
  Balance(&comic.first, &comic.second, " ");
  const std::string comicRecords =
      "2008/12/05,講談社,海辺の図書館　第3巻,青山ミナト,450,新刊\r\n"
      "2008/12/12,集英社,星をかぞえる猫,小川ひより,420,\r\n";
  comic.whole = Cp932(kComicHeader + comicRecords +
                      "2008/12/19,小学館,鉄路のむこう,北村サトシ,550,初回限定版あり\r\n");
  comic.half = Cp932(kComicHeader + comicRecords);
  comic.none = kComicHeader;
  comic.gzip = kComicHeader;
  jobs.push_back(comic);

  // A paperback entry is closed by the next "<li>": half the page gives the first record.
  Job bunko;
  bunko.name = "bunko-ta";
  bunko.args = {"/k:bunko-ta", "/d:2008/12"};
  bunko.first = Cp932(
      "<html><body>\r\n<p>全3件中 1～3件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
      "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</li>\r\n"
      "<li>12/15　　講談社　　講談社文庫　　雨の日の探偵　　高木つばさ　　\\770　　</li>\r\n");
  bunko.second = Cp932(
      "<li>12/22　　文藝春秋　　文春文庫　　冬の灯台　　森まどか　　\\680　　</li>\r\n"
      "</ul></td></tr></table>\r\n</body></html>\r\n");
  Balance(&bunko.first, &bunko.second, " ");
  const std::string bunkoFirst = "2008/12/08,新潮社,新潮文庫,古い港町の話,川端ゆう,590\r\n";
  bunko.whole = Cp932(kBunkoHeader + bunkoFirst +
                      "2008/12/15,講談社,講談社文庫,雨の日の探偵,高木つばさ,770\r\n"
                      "2008/12/22,文藝春秋,文春文庫,冬の灯台,森まどか,680\r\n");
  bunko.half = Cp932(kBunkoHeader + bunkoFirst);
  bunko.none = kBunkoHeader;
  bunko.gzip = kBunkoHeader;
  jobs.push_back(bunko);

  Job booklist;
  booklist.name = "comic-wf";
  booklist.args = {"/k:comic-wf", "/d:2008/12"};
  booklist.first =
      Cp932("発売日,出版社,書名,著者,価格\r\n12/05,講談社,海辺の図書館 3,青山ミナト,450\r\n");
  booklist.second = Cp932("12/12,集英社,星をかぞえる猫,小川ひより,420\r\n");
  Balance(&booklist.first, &booklist.second, " ");
  booklist.whole = booklist.first + booklist.second + "\r\n";
  booklist.half = booklist.first + "\r\n";
  booklist.none = "\r\n";
  booklist.gzip = kGzipAsCp932;
  jobs.push_back(booklist);
  return jobs;
}

// How a job ends under a fault: exit 0 with the file of the whole body, of its first half,
// of an empty body or of the gzip-compressed body, or exit 3 with the old file kept.
enum class Ends { kWhole, kHalf, kEmpty, kGzip, kKept };

struct FaultRow {
  std::string fault;  // "redirect-closed:" gets a closed loopback port appended
  Ends ends;
  size_t requestsPerJob;  // requests that reach the server for each job
  const char* onWindows;  // what wine's WinINet does instead, where it differs (the row skips)
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.fault; }

const FaultRow kFaultRows[] = {
    {"ok", Ends::kWhole, 1, nullptr},
    {"huge-headers", Ends::kWhole, 1, nullptr},
    {"no-content", Ends::kEmpty, 1, nullptr},
    // The program asks for no encoding and decodes none: the compressed bytes are the body.
    {"gzip", Ends::kGzip, 1, nullptr},
    // curl stops at the announced length.
    {"short-length", Ends::kHalf, 1,
     "wine's WinINet reads on past the Content-Length until the close: the whole body is "
     "stored"},
    // No response: the request fails.
    {"reset-headers", Ends::kKept, 1,
     "wine's WinINet takes it for an empty answer without headers: exit 0, an empty body "
     "stored"},
    {"huge-header-line", Ends::kKept, 1,
     "wine's WinINet reads the long line: the whole body is stored"},
    {"redirect-loop", Ends::kKept, 11,
     "wine's WinINet follows the loop without a limit: the job is killed at the deadline"},
    {"redirect-closed:", Ends::kKept, 1,
     "under wine's WinINet the job is still running at the deadline"},
    // A body that is not whole, or an error page, is no answer either.
    {"reset-body", Ends::kKept, 1, nullptr},
    {"stall-headers", Ends::kKept, 1, nullptr},
    {"long-length", Ends::kKept, 1, nullptr},
    {"bad-chunk", Ends::kKept, 1,
     "wine's WinINet takes the malformed chunk size for the end of the body, and a chunked "
     "answer announces no length to check it by: the first half is stored"},
    {"status:404", Ends::kKept, 1, nullptr},
    {"status:500", Ends::kKept, 1, nullptr},
};

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  std::string Output() const { return root_.Join("out.csv"); }

  // Runs `job` against `fault` over an existing output file, every request going to the
  // server as the HTTP proxy.
  ProcessResult Run(const Job& job, const std::string& fault, Env env = {}) {
    server_.SetFault(fault);
    server_.SetBody(job.first + job.second);
    EXPECT_TRUE(WriteFileBytes(Output(), kOldFile));
    env.emplace("ZEMLIK_ROOT", root_.path());
    env.emplace("ZEMLIK_CLOCK", "2008-12-21 03:03:17");
    env.emplace("ZEMLIK_INET_TIMEOUT_MS", kTimeLimitMs);
    env.emplace("http_proxy", server_.BaseUrl());
    for (const char* name :
         {"no_proxy", "NO_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      env.emplace(name, "");
    }
    std::vector<std::string> args = job.args;
    args.push_back("/o:" + Output());
    return RunZemlikWithin(kDeadlineSeconds, args, env);
  }

  // Exit 0 with exactly `file` stored, and nothing else in the folder.
  void ExpectStored(const ProcessResult& r, const std::string& file) {
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const std::string stored = ReadFileBytes(Output()).value_or("(missing)");
    if (stored.size() > 4096 || file.size() > 4096) {
      EXPECT_TRUE(stored == file) << stored.size() << " bytes stored, " << file.size()
                                  << " expected";
    } else {
      EXPECT_EQ(stored, file);
    }
    EXPECT_EQ(root_.List(), Names{"out.csv"});
  }

  // Exit 3 with the old file as it was, and nothing else in the folder.
  void ExpectKept(const ProcessResult& r) {
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
    EXPECT_EQ(ReadFileBytes(Output()), kOldFile);
    EXPECT_EQ(root_.List(), Names{"out.csv"});
  }

  TempFolder root_;
  FaultServer server_;
};

class FaultRowsTest : public FaultsTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultRowsTest, EveryJobEndsAsTheRowSays) {
  const FaultRow& row = GetParam();
  if (kSystemInet && row.onWindows != nullptr) GTEST_SKIP() << row.onWindows;
  std::string fault = row.fault;
  Env env;
  if (fault == "redirect-closed:") {
    // The redirect goes to loopback directly, not through the proxy, and is refused there.
    const int closed = HttpFixture::UnusedPort();
    ASSERT_GT(closed, 0);
    fault += std::to_string(closed);
    env = {{"no_proxy", "127.0.0.1"}, {"NO_PROXY", "127.0.0.1"}};
  }
  const std::vector<Job> jobs = Jobs();
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.name);
    const ProcessResult r = Run(job, fault, env);
    switch (row.ends) {
      case Ends::kWhole:
        ExpectStored(r, job.whole);
        break;
      case Ends::kHalf:
        ExpectStored(r, job.half);
        break;
      case Ends::kEmpty:
        ExpectStored(r, job.none);
        break;
      case Ends::kGzip: {
        const std::string sent = server_.GzipSent();
        ASSERT_EQ(sent.compare(0, 4, std::string("\x1f\x8b\x08\x00", 4)), 0);
        ExpectStored(r, job.name == "url bin" ? sent : job.gzip);
        break;
      }
      case Ends::kKept:
        ExpectKept(r);
        break;
    }
  }
  const std::vector<std::string> requests = server_.Requests();
  EXPECT_EQ(requests.size(), row.requestsPerJob * jobs.size());
  for (const std::string& head : requests) {
    EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos) << head;
    EXPECT_EQ(head.find("TE:"), std::string::npos) << head;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRowsTest, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           std::string name;
                           for (char c : info.param.fault) {
                             if (c >= 'a' && c <= 'z') name += c;
                             if (c >= '0' && c <= '9') name += c;
                           }
                           return name;
                         });

// A proxy that refuses the tunnel for an https URL gives no answer: the old file stays.
TEST_F(FaultsTest, AnHttpsUrlThroughAProxyThatRefusesTheTunnelKeepsTheOldFile) {
  for (const Job& job : Jobs()) {
    if (job.name.rfind("url ", 0) != 0) continue;
    SCOPED_TRACE(job.name);
    Job secure = job;
    secure.args[1] = "/u:https://files.example/data";
    ExpectKept(Run(secure, "ok", {{"https_proxy", server_.BaseUrl()}}));
  }
  for (const std::string& head : server_.Requests()) {
    EXPECT_EQ(head.rfind("CONNECT files.example:443 ", 0), 0u) << head;
  }
}

// The server's generated body: numbered lines of 64 bytes.
std::string TrickleBody(size_t size) {
  std::string body;
  body.reserve(size + 64);
  char line[65];
  for (size_t i = 0; body.size() < size; ++i) {
    std::snprintf(line, sizeof line, "%063zu\n", i);
    body += line;
  }
  body.resize(size);
  return body;
}

// ThreadSanitizer's iconv interceptor checks all the input left on every call, which makes
// decoding a text body quadratic under it: 50 MiB take minutes there.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kTextTrickle = 4u << 20;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr size_t kTextTrickle = 4u << 20;
#else
constexpr size_t kTextTrickle = 50u << 20;
#endif
#else
constexpr size_t kTextTrickle = 50u << 20;
#endif

// 50 MiB written in 64 KiB blocks with a one-byte write between every two.
TEST_F(FaultsTest, FiftyMebibytesInSmallPiecesArriveWhole) {
  for (const Job& job : Jobs()) {
    const size_t size = job.name == "url bin" ? 50u << 20 : kTextTrickle;
    const std::string body = TrickleBody(size);
    std::string expected;
    if (job.name == "url bin") {
      expected = body;
    } else if (job.name == "url sjis" || job.name == "url utf8" || job.name == "comic-wf") {
      expected = body + "\r\n";
    } else if (job.name == "comic-ta") {
      expected = kComicHeader;  // no list marker in the body
    } else {
      continue;
    }
    SCOPED_TRACE(job.name);
    ExpectStored(Run(job, "trickle:" + std::to_string(size)), expected);
  }
}

}  // namespace
