// The real binary end to end: usage, rejections, the nowtime job and exit codes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ProcessResult;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::RunZemlik;
using zemlik::testing::TempFolder;

using Names = std::vector<std::string>;

// The caption, then the twelve lines of the usage text.
const std::string kUsage =
    "Zemlik について\n"
    "Zemlik\n"
    "Ver.1.0.2008.1221\n"
    "月ごとの新刊情報を集めてCSVファイルに保存します\n"
    "本ソフトウェアは無保証です。自己責任でお使いください\n"
    "引数:\n"
    "  /k: 種別(comic-ta,bunko-ta,comic-wf,url)\n"
    "  /d: 対象年月(yyyy/mm)\n"
    "  /u: URL\n"
    "  /c: 文字コード(sjis,utf8,bin)\n"
    "  /o: 出力ファイル\n"
    "例:\n"
    "  Zemlik /k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"\n";

const std::string kNowTimeFile = "date,time\r\n2008/12/21,03:03:17 \r\n";

class EntryTest : public ::testing::Test {
 protected:
  // Runs the binary with the device root in root_ and the clock pinned to
  // 2008-12-21 03:03:17, unless `env` says otherwise.
  ProcessResult Run(const std::vector<std::string>& args,
                    std::map<std::string, std::string> env = {}) {
    env.emplace("ZEMLIK_ROOT", root_.path());
    env.emplace("ZEMLIK_CLOCK", "2008-12-21 03:03:17");
    return RunZemlik(args, env);
  }

  TempFolder root_;
};

TEST_F(EntryTest, NoArgumentsShowUsageAndTouchNoFile) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only: on Windows the usage box is the real, modal MessageBoxW, "
                  "shown and answered by tests/usage_box_test.cpp";
#endif
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {""}}) {
    const ProcessResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(root_.List(), Names{});
  }
}

TEST_F(EntryTest, RejectedCommandLinesExit2AndCreateNoFile) {
  const std::vector<std::vector<std::string>> rejected = {
      {"/k:bogus"},
      {"/k:nowtime", "/x:1"},
      {"/K:nowtime"},
      {"/d:2008", "/k:nowtime"},  // a year needs its separator before a blank
      {"/k:nowtime", "/o:\\My", "Documents\\monthlist.csv"},  // path cut at the blank
      {"/u:a", "/u:b", "/k:nowtime"},
      {"help"},
  };
  for (const std::vector<std::string>& args : rejected) {
    SCOPED_TRACE(args.back());
    TempFolder root;
    const ProcessResult r = Run(args, {{"ZEMLIK_ROOT", root.path()}});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
    EXPECT_EQ(root.List(), Names{});
  }
}

TEST_F(EntryTest, NowTimeWritesTheDefaultOutputPath) {
  const ProcessResult r = Run({"/k:nowtime"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/monthlist.csv"}));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/monthlist.csv")), kNowTimeFile);
}

TEST_F(EntryTest, NowTimeIgnoresTheTargetDate) {
  const ProcessResult r = Run({"/d:1999/7", "/k:nowtime"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/monthlist.csv")), kNowTimeFile);
}

TEST_F(EntryTest, NowTimeReplacesAnExistingFile) {
  ASSERT_EQ(Run({"/k:nowtime"}).exitCode, 0);
  ASSERT_TRUE(zemlik::testing::WriteFileBytes(root_.Join("My Documents/monthlist.csv"),
                                              std::string(3000, 'z')));
  EXPECT_EQ(Run({"/k:nowtime"}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/monthlist.csv")), kNowTimeFile);
}

TEST_F(EntryTest, AnOutputWordWithBlanksIsQuotedForTheDevice) {
  // As a shell hands it over: one word "/o:\My Documents\month list.csv".
  const ProcessResult r = Run({"/k:nowtime", "/o:\\My Documents\\month list.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/month list.csv"}));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/month list.csv")), kNowTimeFile);
}

TEST_F(EntryTest, QuotesTypedIntoTheArgumentTextAreKept) {
  // As the device hands it over: the double quotes are part of the text.
  const ProcessResult r = Run({"/k:nowtime", "/o:\"\\My Documents\\quoted name.csv\""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/quoted name.csv")), kNowTimeFile);
}

TEST_F(EntryTest, NonAsciiOutputPath) {
  const ProcessResult r = Run({"/k:nowtime", "/o:\\My Documents\\新刊 一覧.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/新刊 一覧.csv")), kNowTimeFile);
}

TEST_F(EntryTest, HostPathsAreUsedAsTheyAre) {
  TempFolder elsewhere;
  const std::string path = elsewhere.Join("now.csv");
  const ProcessResult r = Run({"/k:nowtime", "/o:" + path});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(path), kNowTimeFile);
  EXPECT_EQ(root_.List(), Names{});
}

TEST_F(EntryTest, AnOutputPathInAMissingFolderExits3AndCreatesNothing) {
  const ProcessResult r = Run({"/k:nowtime", "/o:\\missing\\now.csv"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
  EXPECT_EQ(root_.List(), Names{});
}

TEST_F(EntryTest, AllocationFailuresEndInTheirExitCodes) {
  // The program's allocations here: the year and month copies, then the two
  // lines' conversion buffers.
  const std::vector<std::string> args = {"/d:2008/12", "/k:nowtime"};
  for (const char* failAt : {"1", "2"}) {
    SCOPED_TRACE(failAt);
    EXPECT_EQ(Run(args, {{"ZEMLIK_ALLOC_FAIL", failAt}}).exitCode, 2);
    EXPECT_EQ(root_.List(), Names{});
  }
  // A line that cannot be written leaves no file behind.
  for (const char* failAt : {"3", "4"}) {
    SCOPED_TRACE(failAt);
    EXPECT_EQ(Run(args, {{"ZEMLIK_ALLOC_FAIL", failAt}}).exitCode, 3);
    EXPECT_EQ(root_.List(), Names{"My Documents"});
  }
  const ProcessResult counted = Run(args, {{"ZEMLIK_ALLOC_COUNT", "1"}});
  EXPECT_EQ(counted.exitCode, 0);
  EXPECT_EQ(counted.err, "allocations: 4\n");
}

TEST_F(EntryTest, TraceLinesShowTheArgumentsAndTheParse) {
  const ProcessResult r = Run({"/k:nowtime", "/d:2009/3"}, {{"ZEMLIK_TRACE", "1"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "cs=1 cl=[/k:nowtime /d:2009/3]\n"
            "pcl:rc=0 k=5 dt=2009/3 fn=[\\My Documents\\monthlist.csv]\n");

  const ProcessResult rejected = Run({"/k:url", "/o:x", "/c:SJIS"}, {{"ZEMLIK_TRACE", "1"}});
  EXPECT_EQ(rejected.exitCode, 2);
  const std::string traced =
      "cs=1 cl=[/k:url /o:x /c:SJIS]\n"
      "pcl:stop=15,st=500\n"
      "pcl:rc=-101 k=4 dt=2008/12 fn=[x]\n";
  EXPECT_EQ(rejected.err.substr(0, traced.size()), traced);
  EXPECT_TRUE(zemlik::testing::IsFailureReport(rejected.err.substr(traced.size())));
}

TEST_F(EntryTest, ATraceLineIsCutTo999Characters) {
  // A 5000-character path in a missing folder: nothing is created.
  const std::string longPath = "\\missing\\" + std::string(5000, 'p');
  const ProcessResult r = Run({"/k:nowtime", "/o:" + longPath}, {{"ZEMLIK_TRACE", "1"}});
  EXPECT_EQ(r.exitCode, 3);
  const std::string firstLine = r.err.substr(0, r.err.find('\n'));
  EXPECT_EQ(firstLine, ("cs=1 cl=[/k:nowtime /o:" + longPath).substr(0, 999));
  EXPECT_EQ(root_.List(), Names{});
}

}  // namespace
