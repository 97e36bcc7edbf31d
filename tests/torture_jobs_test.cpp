// Allocation torture of every job through the real binary: one run counts the allocations
// made through the platform's allocator (ZEMLIK_ALLOC_COUNT), then one run per allocation
// has exactly that one fail (ZEMLIK_ALLOC_FAIL). Each run must end as the failure rows of
// the routine that asked for the memory say: the exit code, the output file (an existing
// one kept wherever the download failed), whether a request went out, nothing left behind
// and nothing on standard error (under the asan preset: no leak, no sanitizer report).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/cp932.h"
#include "tests/support/fault_server.h"
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

constexpr int kDeadlineSeconds = 60;
const std::string kOldFile = "old,file\r\n";

// How a run ends.
struct Outcome {
  int exitCode = 0;
  std::optional<std::string> file;  // the output file; nullopt: the old file, as it was
  int requests = 0;                 // requests that reached the server
};

// A stretch of the allocation sequence that one routine asks for, and how a run ends when
// its i-th allocation (0-based) fails. A count of 0 takes what the total leaves over.
struct Phase {
  std::string what;
  unsigned long count;
  std::function<Outcome(unsigned long i)> outcome;
};

Phase Fixed(std::string what, unsigned long count, Outcome outcome) {
  return {std::move(what), count, [outcome](unsigned long) { return outcome; }};
}

struct Expected {
  std::string phase;
  Outcome outcome;
};

// One entry per allocation. Fails the test when the phases do not add up to `total`.
std::vector<Expected> Expand(const std::vector<Phase>& phases, unsigned long total) {
  unsigned long fixed = 0;
  int flexible = 0;
  for (const Phase& p : phases) {
    fixed += p.count;
    flexible += p.count == 0 ? 1 : 0;
  }
  EXPECT_LE(flexible, 1);
  const bool fits = flexible == 0 ? fixed == total : fixed < total;
  EXPECT_TRUE(fits) << "the job made " << total << " allocations; its phases account for " << fixed
                    << (flexible ? " and at least one more" : "");
  std::vector<Expected> out;
  if (!fits) return out;
  for (const Phase& p : phases) {
    const unsigned long count = p.count != 0 ? p.count : total - fixed;
    for (unsigned long i = 0; i < count; ++i) out.push_back({p.what, p.outcome(i)});
  }
  return out;
}

// The release-list parsers: the header line, then per record five field strings and the
// record line. A field that cannot be had stops the scan (result -101, job 0) after the
// records before it; a line that cannot be written fails the job (102 -> -111, exit 3) and
// keeps the old file; the request went out before either.
Phase ParserPhase(const std::string& header, const std::vector<std::string>& records) {
  const unsigned long count = 1 + 6 * records.size();
  return {"parser", count, [header, records](unsigned long i) {
            const size_t record = (i - 1) / 6;
            if (i == 0 || (i - 1) % 6 == 5) return Outcome{3, std::nullopt, 1};
            std::string file = header;
            for (size_t r = 0; r < record; ++r) file += records[r];
            return Outcome{0, file, 1};
          }};
}

struct TortureJob {
  std::string name;
  std::vector<std::string> args;
  std::string body;
  std::string file;  // the output file when nothing fails
  std::vector<Phase> phases;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const TortureJob& job, std::ostream* os) { *os << job.name; }

// Failures before the request is sent, and in and after the request, of a download.
const Outcome kRejected{2, std::nullopt, 0};
const Outcome kKeptNoRequest{3, std::nullopt, 0};
const Outcome kKeptAfterRequest{3, std::nullopt, 1};

std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (auto unit : Utf16(utf8)) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  }
  return out;
}

// A url job: its URL copy, the agent's URL, host and page, then the charset's own steps.
TortureJob UrlJob(const std::string& charset, std::string body, std::string file,
                  std::vector<Phase> charsetPhases) {
  TortureJob job{
      "url " + charset,
      {"/k:url", "/u:http://files.example/data", "/c:" + charset},
      std::move(body),
      std::move(file),
      {Fixed("command line: URL copy", 1, kRejected), Fixed("agent: URL copy", 1, kKeptNoRequest),
       Fixed("fetch: host and page", 2, kKeptNoRequest)}};
  for (Phase& p : charsetPhases) job.phases.push_back(std::move(p));
  return job;
}

// The text charsets: the body, its decoding, the one line written.
std::vector<Phase> TextPhases(const std::string& decoding) {
  return {{"request: body", 0, [](unsigned long) { return kKeptAfterRequest; }},
          Fixed(decoding, 1, kKeptAfterRequest),
          Fixed("WriteLine", 1, kKeptAfterRequest)};
}

TortureJob ListJob(const std::string& kind, const std::string& page, const std::string& header,
                   const std::vector<std::string>& records) {
  std::string file = header;
  for (const std::string& r : records) file += r;
  return {kind,
          {"/k:" + kind, "/d:2008/12"},
          page,
          file,
          {Fixed("command line: year and month copies", 2, kRejected),
           Fixed("agent: URL copy", 1, kKeptNoRequest),
           Fixed("job: source URL", 1, kKeptNoRequest),
           Fixed("fetch: host and page", 2, kKeptNoRequest),
           {"request: body", 0, [](unsigned long) { return kKeptAfterRequest; }},
           Fixed("AnsiToWide", 1, kKeptAfterRequest),
           ParserPhase(header, records)}};
}

std::vector<TortureJob> Jobs() {
  std::vector<TortureJob> jobs;
  const std::string text = "一行目：海辺の図書館　第3巻～\n二行目：星をかぞえる猫\n";

  jobs.push_back({"nowtime",
                  {"/k:nowtime", "/d:2008/12"},
                  "",
                  "date,time\r\n2008/12/21,03:03:17 \r\n",
                  {Fixed("command line: year and month copies", 2, kRejected),
                   Fixed("WriteLine: header", 1, kKeptNoRequest),
                   Fixed("WriteLine: time", 1, kKeptNoRequest)}});

  const std::string comicHeader = "date,company,title,author,price,memo\r\n";
  jobs.push_back(ListJob(
      "comic-ta",
      Cp932("<html><body>\r\n<p>全3件中 1～3件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
            "<li>12/05　　講談社　　海辺の図書館　第3巻　　青山ミナト　　\\450　　新刊　　</li>\r\n"
            "<li>12/12　　集英社　　星をかぞえる猫　　小川ひより　　\\420　　　　</li>\r\n"
            "<li>12/19　　小学館　　鉄路のむこう　　北村サトシ　　\\550　　限定版　　</li>\r\n"
            "</ul></td></tr></table>\r\n</body></html>\r\n"),
      comicHeader,
      {Cp932("2008/12/05,講談社,海辺の図書館　第3巻,青山ミナト,450,新刊\r\n"),
       Cp932("2008/12/12,集英社,星をかぞえる猫,小川ひより,420,\r\n"),
       Cp932("2008/12/19,小学館,鉄路のむこう,北村サトシ,550,限定版\r\n")}));

  const std::string bunkoHeader = "date,company,category,title,author,price\r\n";
  jobs.push_back(ListJob(
      "bunko-ta",
      Cp932("<p>全2件中 1～2件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
            "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</li>\r\n"
            "<li>12/15　　講談社　　講談社文庫　　雨の日の探偵　　高木つばさ　　\\770　　</li>\r\n"
            "</ul></td></tr></table>\r\n"),
      bunkoHeader,
      {Cp932("2008/12/08,新潮社,新潮文庫,古い港町の話,川端ゆう,590\r\n"),
       Cp932("2008/12/15,講談社,講談社文庫,雨の日の探偵,高木つばさ,770\r\n")}));

  const std::string booklist = Cp932("発売日,書名\r\n12/05,海辺の図書館\r\n");
  jobs.push_back({"comic-wf",
                  {"/k:comic-wf", "/d:2008/12"},
                  booklist,
                  booklist + "\r\n",
                  {Fixed("command line: year and month copies", 2, kRejected),
                   Fixed("agent: URL copy", 1, kKeptNoRequest),
                   Fixed("job: source URL", 1, kKeptNoRequest),
                   Fixed("fetch: host and page", 2, kKeptNoRequest),
                   {"request: body", 0, [](unsigned long) { return kKeptAfterRequest; }},
                   Fixed("AnsiToWide", 1, kKeptAfterRequest),
                   Fixed("WriteLine", 1, kKeptAfterRequest)}});

  jobs.push_back(UrlJob("sjis", Cp932(text), Cp932(text) + "\r\n", TextPhases("AnsiToWide")));
  jobs.push_back(UrlJob("utf8", text, Cp932(text) + "\r\n", TextPhases("Utf8ToWide")));
  jobs.push_back(UrlJob("unicode", "\xff\xfe" + Utf16Le(text), Cp932(text) + "\r\n",
                        TextPhases("UTF-16 text")));
  const std::string raw("PK\x03\x04\0\0\xff\x80\r\n raw bytes\n", 20);
  // A raw download writes as it reads: its one block is taken before the request.
  jobs.push_back(UrlJob("bin", raw, raw, {Fixed("read block", 1, kKeptNoRequest)}));
  return jobs;
}

class TortureJobsTest : public ::testing::TestWithParam<TortureJob> {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  std::string Output() const { return root_.Join("out.csv"); }

  // Runs the job over an existing output file; the server answers every request with the
  // job's body and counts them.
  ProcessResult Run(const TortureJob& job, Env env) {
    server_.SetBody(job.body);
    EXPECT_TRUE(WriteFileBytes(Output(), kOldFile));
    env.emplace("ZEMLIK_ROOT", root_.path());
    env.emplace("ZEMLIK_CLOCK", "2008-12-21 03:03:17");
    env.emplace("ZEMLIK_INET_TIMEOUT_MS", "10000");
    env.emplace("http_proxy", server_.BaseUrl());
    for (const char* name :
         {"no_proxy", "NO_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      env.emplace(name, "");
    }
    std::vector<std::string> args = job.args;
    args.push_back("/o:" + Output());
    return RunZemlikWithin(kDeadlineSeconds, args, env);
  }

  TempFolder root_;
  FaultServer server_;
};

TEST_P(TortureJobsTest, EveryAllocationFailureEndsAsItsRoutineSays) {
  const TortureJob& job = GetParam();
  const ProcessResult counted = Run(job, {{"ZEMLIK_ALLOC_COUNT", "1"}});
  ASSERT_EQ(counted.exitCode, 0) << counted.err;
  ASSERT_EQ(ReadFileBytes(Output()), job.file);
  unsigned long total = 0;
  ASSERT_EQ(std::sscanf(counted.err.c_str(), "allocations: %lu\n", &total), 1) << counted.err;
  ASSERT_EQ(counted.err, "allocations: " + std::to_string(total) + "\n");
  RecordProperty("allocations", static_cast<int>(total));
  std::printf("%s: %lu allocations\n", job.name.c_str(), total);

  const std::vector<Expected> expected = Expand(job.phases, total);
  ASSERT_EQ(expected.size(), total);
  for (unsigned long k = 1; k <= total; ++k) {
    const Expected& e = expected[k - 1];
    SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(total) + " (" +
                 e.phase + ") fails");
    const size_t before = server_.Requests().size();
    const ProcessResult r = Run(job, {{"ZEMLIK_ALLOC_FAIL", std::to_string(k)}});
    EXPECT_EQ(r.exitCode, e.outcome.exitCode);
    EXPECT_EQ(r.out, "");
    if (r.exitCode == 0) {
      EXPECT_EQ(r.err, "");
    } else {
      // The one line says that memory ran out.
      const std::string said = r.exitCode == 2 ? "command line rejected: out of memory"
                                               : job.name.substr(0, job.name.find(' ')) +
                                                     " failed: out of memory";
      EXPECT_EQ(r.err.rfind("zemlik: " + said, 0), 0u) << r.err;
      EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
    }
    EXPECT_EQ(ReadFileBytes(Output()), e.outcome.file.value_or(kOldFile));
    EXPECT_EQ(root_.List(), Names{"out.csv"});
    EXPECT_EQ(server_.Requests().size() - before, static_cast<size_t>(e.outcome.requests));
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, TortureJobsTest, ::testing::ValuesIn(Jobs()),
                         [](const ::testing::TestParamInfo<TortureJob>& info) {
                           std::string name;
                           for (char c : info.param.name) {
                             name += (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ? c : '_';
                           }
                           return name;
                         });

}  // namespace
