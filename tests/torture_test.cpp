// Allocation torture through the real binary, one job of each kind: one run counts the
// allocations (ZEMLIK_ALLOC_COUNT), then one run per allocation has exactly that one fail
// (ZEMLIK_ALLOC_FAIL). Every run must end whole: exit 0 with the new file (for a list, the
// records before a field that could not be had), or exit 2 or 3 with the old file as it was
// and one line saying so; nothing else in the folder, and under the asan preset no leak.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

class TortureTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TortureTest, EveryAllocationFailureEndsWhole) {
  // The job's words, the body it is served and the file it stores.
  const std::map<std::string, std::vector<std::string>> jobs = {
      {"nowtime", {"/k:nowtime", "", "date,time\r\n2008/12/21,03:03:17 \r\n"}},
      {"comic", {"/k:comic-ta", Cp932(kComicPage), Cp932(kComicCsv)}},
      {"bunko", {"/k:bunko-ta", Cp932(kBunkoPage), Cp932(kBunkoCsv)}},
      {"booklist", {"/k:comic-wf", Cp932(kBooklist), Cp932(kBooklist) + "\r\n"}},
      {"url", {"/k:url|/u:http://files.example/x|/c:utf8", "ノート\n", Cp932("ノート\n") + "\r\n"}},
      {"bin", {"/k:url|/u:http://files.example/x|/c:bin", "raw\r\n", "raw\r\n"}}};
  const std::vector<std::string>& job = jobs.at(GetParam());
  const bool list = GetParam() == "comic" || GetParam() == "bunko";  // stops at a field not had
  TempFolder folder;
  Server server;
  ASSERT_TRUE(server.ok());
  server.Add("*", job[1]);
  const std::string out = folder.Join("out.csv");
  auto run = [&](const char* name, const std::string& value) {
    EXPECT_TRUE(WriteFileBytes(out, "old\r\n"));
    return RunJob(folder.path(), server, Words(job[0] + "|/d:2008/12|/o:" + out), {{name, value}},
                  60);
  };
  const Result counted = run("ZEMLIK_ALLOC_COUNT", "1");
  unsigned long total = 0;
  ASSERT_EQ(std::sscanf(counted.err.c_str(), "allocations: %lu", &total), 1) << counted.err;
  ASSERT_EQ(ReadFileBytes(out), job[2]);
  for (unsigned long n = 1; n <= total; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
    const Result r = run("ZEMLIK_ALLOC_FAIL", std::to_string(n));
    const std::string stored = ReadFileBytes(out).value_or("(none)");
    if (r.exitCode == 0) {
      EXPECT_TRUE(stored == job[2] ||
                  (list && job[2].rfind(stored, 0) == 0 && stored.ends_with("\r\n")))
          << stored;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE((r.exitCode == 2 || r.exitCode == 3) && stored == "old\r\n" &&
                  IsFailureReport(r.err))
          << r.exitCode << " " << stored << " " << r.err;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(folder.List(), std::vector<std::string>{"out.csv"});
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, TortureTest,
                         ::testing::Values("nowtime", "comic", "bunko", "booklist", "url", "bin"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace zemlik::test
