// Allocation torture through the real binary, one job of each kind: one run counts the
// allocations (ZEMLIK_ALLOC_COUNT), then one run per allocation has exactly that one fail
// (ZEMLIK_ALLOC_FAIL). Every run must end whole: exit 0 with the new file (for a list, the
// records before a field that could not be had), or exit 2 or 3 with the old file as it was
// and one line saying so; nothing else in the folder, and under the asan preset no leak.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

struct Job {
  std::vector<std::string> args;
  std::string body;
  std::string file;
  bool list = false;  // a list stops at a field it cannot have, keeping the records before
};

void PrintTo(const Job& job, std::ostream* os) { *os << job.args.front(); }

class TortureTest : public ::testing::TestWithParam<Job> {};

TEST_P(TortureTest, EveryAllocationFailureEndsWhole) {
  const Job& job = GetParam();
  TempFolder folder;
  Server server;
  ASSERT_TRUE(server.ok());
  server.Add("*", job.body);
  const std::string out = folder.Join("out.csv");
  auto run = [&](const char* name, const std::string& value) {
    EXPECT_TRUE(WriteFileBytes(out, "old\r\n"));
    std::vector<std::string> args = job.args;
    args.push_back("/o:" + out);
    return RunZemlik(args,
                     {{"ZEMLIK_ROOT", folder.path()},
                      {"ZEMLIK_CLOCK", "2008-12-21 03:03:17"},
                      {"http_proxy", server.Url()},
                      {"no_proxy", ""},
                      {name, value}},
                     60);
  };
  const Result counted = run("ZEMLIK_ALLOC_COUNT", "1");
  unsigned long total = 0;
  ASSERT_EQ(counted.exitCode, 0) << counted.err;
  ASSERT_EQ(std::sscanf(counted.err.c_str(), "allocations: %lu", &total), 1) << counted.err;
  ASSERT_EQ(ReadFileBytes(out), job.file);
  for (unsigned long n = 1; n <= total; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
    const Result r = run("ZEMLIK_ALLOC_FAIL", std::to_string(n));
    const std::string stored = ReadFileBytes(out).value_or("(none)");
    if (r.exitCode == 0) {
      // All of it, or (a list) the header and the records before a field that ran out.
      EXPECT_TRUE(stored == job.file ||
                  (job.list && job.file.rfind(stored, 0) == 0 && stored.size() >= 2 &&
                   stored.substr(stored.size() - 2) == "\r\n"))
          << stored;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(r.exitCode == 2 || r.exitCode == 3) << r.exitCode;
      EXPECT_EQ(stored, "old\r\n");
      EXPECT_TRUE(IsFailureReport(r.err)) << r.err;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(folder.List(), std::vector<std::string>{"out.csv"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, TortureTest,
    ::testing::Values(
        Job{{"/k:nowtime", "/d:2008/12"}, "", "date,time\r\n2008/12/21,03:03:17 \r\n"},
        Job{{"/k:comic-ta", "/d:2008/12"}, Cp932(kComicPage), Cp932(kComicCsv), true},
        Job{{"/k:bunko-ta", "/d:2008/12"}, Cp932(kBunkoPage), Cp932(kBunkoCsv), true},
        Job{{"/k:comic-wf", "/d:2008/12"}, Cp932(kBooklist), Cp932(kBooklist) + "\r\n"},
        Job{{"/k:url", "/u:http://files.example/x", "/c:utf8"},
            "ノート\n",
            Cp932("ノート\n") + "\r\n"},
        Job{{"/k:url", "/u:http://files.example/x", "/c:bin"}, "raw\r\n", "raw\r\n"}),
    [](const ::testing::TestParamInfo<Job>& info) {
      std::string name = info.param.args.front().substr(3) + info.param.args.back().substr(3);
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

}  // namespace
}  // namespace zemlik::test
