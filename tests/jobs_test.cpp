// The network jobs end to end: the real binary, a forward-proxy fixture on loopback
// reached through http_proxy, real files under a temporary device root.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cp932.h"
#include "tests/support/http_fixture.h"
#include "tests/support/proxy_target.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::Cp932;
using zemlik::testing::FileExists;
using zemlik::testing::ProcessResult;
using zemlik::testing::ProxyTarget;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::RunZemlik;
using zemlik::testing::TempFolder;
using zemlik::testing::WriteFileBytes;

using Names = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

const std::string kComicPage =
    "<html><body>\r\n<p>全3件中 1～3件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
    "<li>12/05　　講談社　　海辺の図書館　第3巻　　青山ミナト　　\\450　　新刊　　</li>\r\n"
    "<li>12/12　　集英社　　星をかぞえる猫　　小川ひより　　\\420　　　　</li>\r\n"
    "<li>12/19　　小学館　　鉄路のむこう～前編　　北村サトシ　　\\550　　初回限定版あり　　</"
    "li>\r\n"
    "</ul></td></tr></table>\r\n</body></html>\r\n";

const std::string kComicCsv =
    "date,company,title,author,price,memo\r\n"
    "2008/12/05,講談社,海辺の図書館　第3巻,青山ミナト,450,新刊\r\n"
    "2008/12/12,集英社,星をかぞえる猫,小川ひより,420,\r\n"
    "2008/12/19,小学館,鉄路のむこう～前編,北村サトシ,550,初回限定版あり\r\n";

const std::string kBunkoPage =
    "<html><body>\r\n<p>全2件中 1～2件を表示します。</p>\r\n<table><tr><td><ul>\r\n"
    "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</li>\r\n"
    "<li>12/15　　講談社　　講談社文庫　　雨の日の探偵　　高木つばさ　　\\770　　</li>\r\n"
    "</ul></td></tr></table>\r\n</body></html>\r\n";

const std::string kBunkoCsv =
    "date,company,category,title,author,price\r\n"
    "2008/12/08,新潮社,新潮文庫,古い港町の話,川端ゆう,590\r\n"
    "2008/12/15,講談社,講談社文庫,雨の日の探偵,高木つばさ,770\r\n";

const std::string kBooklist =
    "発売日,出版社,書名,著者,価格\r\n"
    "12/05,講談社,海辺の図書館 3,青山ミナト,450\r\n"
    "12/12,集英社,星をかぞえる猫,小川ひより,420\r\n";

// The request line of a GET for http://host + target through the proxy.
std::string Get(const std::string& host, const std::string& target) {
  return "GET " + ProxyTarget(host, target) + " HTTP/1.1";
}

const std::string kComicPath = "/comic/comic0812_listdate.html";
const std::string kBunkoPath = "/bunko/bunko0812_listdate.html";
const std::string kBooklistPath = "/review/kurodai/data/booklist/dec08.csv";

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    server_.Route(HttpRoute(kComicPath, Cp932(kComicPage)).Host("www.bookshop.example"));
    server_.Route(HttpRoute(kBunkoPath, Cp932(kBunkoPage)).Host("www.bookshop.example"));
    server_.Route(HttpRoute(kBooklistPath, Cp932(kBooklist)).Host("www.booklist.example"));
  }

  // The binary with the device root in the temporary folder, the clock pinned to
  // 2008-12-21 and every request going to the fixture as the HTTP proxy.
  ProcessResult Run(const std::vector<std::string>& args, Env env = {}) {
    env["ZEMLIK_ROOT"] = root_.path();
    env.emplace("ZEMLIK_CLOCK", "2008-12-21 03:03:17");
    env.emplace("http_proxy", server_.BaseUrl());
    env.emplace("no_proxy", "");
    env.emplace("NO_PROXY", "");
    return RunZemlik(args, env);
  }

  std::string OutputFile(const std::string& name = "monthlist.csv") {
    return root_.Join("My Documents/" + name);
  }

  // The request lines the fixture received, in order.
  Names RequestLines() {
    Names lines;
    for (const HttpRecord& record : server_.Requests()) lines.push_back(record.requestLine);
    return lines;
  }

  TempFolder root_;
  HttpFixture server_;
};

TEST_F(JobsTest, ComicListIsFetchedThroughTheProxyAndWrittenAsCsv) {
  const ProcessResult r = Run({"/k:comic-ta", "/d:2008/12"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RequestLines(), Names{Get("www.bookshop.example", kComicPath)});
  EXPECT_EQ(ReadFileBytes(OutputFile()), Cp932(kComicCsv));
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/monthlist.csv"}));
}

TEST_F(JobsTest, BunkoListIsFetchedThroughTheProxyAndWrittenAsCsv) {
  const ProcessResult r = Run({"/k:bunko-ta", "/d:08/12", "/o:\\My Documents\\bunko.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RequestLines(), Names{Get("www.bookshop.example", kBunkoPath)});
  EXPECT_EQ(ReadFileBytes(OutputFile("bunko.csv")), Cp932(kBunkoCsv));
}

TEST_F(JobsTest, BooklistIsStoredAsOneTextLine) {
  // A /c: choice does not change how comic-wf decodes.
  const ProcessResult r = Run({"/k:comic-wf", "/d:2008/12", "/c:bin"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RequestLines(), Names{Get("www.booklist.example", kBooklistPath)});
  EXPECT_EQ(ReadFileBytes(OutputFile()), Cp932(kBooklist) + "\r\n");
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/monthlist.csv"}));
}

TEST_F(JobsTest, UrlJobStoresTheBodyAsTheCharsetSays) {
  const std::string raw("PK\x03\x04\0\0\xff\x80 raw", 12);
  server_.Route(HttpRoute("/data.bin?m=12", raw).Host("files.example"));
  ProcessResult r =
      Run({"/k:url", "/u:http://files.example/data.bin?m=12", "/c:bin", "/o:\\My Documents\\d"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(OutputFile("d")), raw);

  server_.Route(HttpRoute("/note.txt", "ノート\n").Host("files.example"));
  r = Run({"/k:url", "/u:http://files.example/note.txt", "/c:utf8", "/o:\\My Documents\\n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(OutputFile("n")), Cp932("ノート\n") + "\r\n");
  EXPECT_EQ(RequestLines(),
            (Names{Get("files.example", "/data.bin?m=12"), Get("files.example", "/note.txt")}));
}

// The year and month come from /d:, the year prefix of the records from the clock.
TEST_F(JobsTest, SourcePathsFollowTheTargetMonth) {
  server_.Route(HttpRoute("/comic/comic0901_listdate.html", Cp932(kComicPage)));
  const ProcessResult january = Run({"/k:comic-ta", "/d:2009/1"});
  EXPECT_EQ(january.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(OutputFile()), Cp932(kComicCsv));

  // Any other path gets a page without a list: header only.
  server_.Route(HttpRoute("*", "<html><body>no list this month</body></html>"));
  EXPECT_EQ(Run({"/k:comic-ta", "/d:1999/12"}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(OutputFile()), "date,company,title,author,price,memo\r\n");
  EXPECT_EQ(Run({"/k:comic-wf", "/d:2008/0"}).exitCode, 0);
  EXPECT_EQ(Run({"/k:comic-wf", "/d:2010/1"}).exitCode, 0);
  EXPECT_EQ(Run({"/k:bunko-ta", "/d:2010/1"}).exitCode, 0);

  EXPECT_EQ(RequestLines(),
            (Names{Get("www.bookshop.example", "/comic/comic0901_listdate.html"),
                   Get("www.bookshop.example", "/comic/comic-112_listdate.html"),
                   Get("www.booklist.example", "/review/kurodai/data/booklist/08.csv"),
                   Get("www.booklist.example", "/review/kurodai/data/booklist/jan10.csv"),
                   Get("www.bookshop.example", "/bunko/bunko1001_listdate.html")}));
}

TEST_F(JobsTest, AMalformedPageKeepsTheRecordsBeforeItAndSucceeds) {
  const std::string page =
      "<p>2件を表示します。</p><table>"
      "<li>12/05　　講談社　　海辺の図書館　　青山ミナト　　\\450　　新刊　　</li>"
      "<li>12/12　x集英社　　</li></table>";
  server_.ClearRoutes();
  server_.Route(HttpRoute(kComicPath, Cp932(page)));
  EXPECT_EQ(Run({"/k:comic-ta", "/d:2008/12"}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(OutputFile()),
            Cp932("date,company,title,author,price,memo\r\n"
                  "2008/12/05,講談社,海辺の図書館,青山ミナト,450,新刊\r\n"));
}

TEST_F(JobsTest, AListThatCannotBeWrittenFailsTheJob) {
  for (const char* kind : {"/k:comic-ta", "/k:bunko-ta"}) {
    SCOPED_TRACE(kind);
    const ProcessResult r = Run({kind, "/d:2008/12", "/o:\\missing\\list.csv"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
  }
  EXPECT_EQ(RequestLines().size(), 2u);  // fetched, then not written
  EXPECT_EQ(root_.List(), Names{});
}

// Rows that leave no file: a fetch that fails (the proxy refuses connections),
// a booklist month beyond December and a url job without /u: (no request at all).
TEST_F(JobsTest, FailedFetchesExit3AndLeaveNoFile) {
  const std::string refusing = "http://127.0.0.1:" + std::to_string(HttpFixture::UnusedPort());
  const std::vector<std::vector<std::string>> jobs = {
      {"/k:comic-ta", "/d:2008/12"},
      {"/k:bunko-ta", "/d:2008/12"},
      {"/k:comic-wf", "/d:2008/12"},
      {"/k:url", "/u:http://files.example/x.csv"},
  };
  for (const std::vector<std::string>& args : jobs) {
    SCOPED_TRACE(args.front());
    const ProcessResult r = Run(args, {{"http_proxy", refusing}});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
    EXPECT_FALSE(FileExists(OutputFile()));
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/k:comic-wf", "/d:2008/13"}, {"/k:url"}, {"/k:url", "/c:bin"}}) {
    SCOPED_TRACE(args.back());
    const ProcessResult r = Run(args);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(zemlik::testing::IsFailureReport(r.err)) << r.err;
    EXPECT_FALSE(FileExists(OutputFile()));
  }
  EXPECT_EQ(RequestLines(), Names{});
}

TEST_F(JobsTest, AFailedDownloadKeepsTheOldFile) {
  const std::string refusing = "http://127.0.0.1:" + std::to_string(HttpFixture::UnusedPort());
  ASSERT_TRUE(WriteFileBytes(root_.Join("list.csv"), "old,list\r\n"));
  for (const char* kind : {"/k:comic-wf", "/k:url"}) {
    SCOPED_TRACE(kind);
    const ProcessResult r = Run({kind, "/u:http://files.example/x", "/o:" + root_.Join("list.csv")},
                                {{"http_proxy", refusing}});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(ReadFileBytes(root_.Join("list.csv")), "old,list\r\n");
    EXPECT_EQ(root_.List(), Names{"list.csv"});
  }
}

#if !defined(_WIN32)
// Every job puts its new file in place as ReplaceFileW does: a private file stays private,
// and a link to the output file still leads to it, now with the new content.
TEST_F(JobsTest, EveryJobKeepsTheModeAndTheLinkOfTheOldFile) {
  server_.Route(HttpRoute("/x", "x").Host("files.example"));
  const std::string real = root_.Join("real.csv");
  const std::string link = root_.Join("link.csv");
  auto mode = [&real] {
    struct stat info {};
    return stat(real.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"/k:nowtime"},
                                             {"/k:comic-ta", "/d:2008/12"},
                                             {"/k:bunko-ta", "/d:2008/12"},
                                             {"/k:comic-wf", "/d:2008/12"},
                                             {"/k:url", "/u:http://files.example/x"},
                                             {"/k:url", "/u:http://files.example/x", "/c:bin"}}) {
    SCOPED_TRACE(args.front() + " " + args.back());
    unlink(link.c_str());
    ASSERT_TRUE(WriteFileBytes(real, "old"));
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    args.push_back("/o:" + real);
    EXPECT_EQ(Run(args).exitCode, 0);
    EXPECT_EQ(mode(), 0600u);
    const std::optional<std::string> stored = ReadFileBytes(real);
    EXPECT_NE(stored, "old");

    ASSERT_TRUE(WriteFileBytes(real, "old"));
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.csv", link.c_str()), 0);
    args.back() = "/o:" + link;
    EXPECT_EQ(Run(args).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(real), stored);
    EXPECT_EQ(mode(), 0640u);
    char target[64] = {};
    EXPECT_EQ(readlink(link.c_str(), target, sizeof target - 1), 8);
    EXPECT_EQ(std::string(target), "real.csv");
    EXPECT_EQ(root_.List(), (Names{"link.csv", "real.csv"}));
  }
}
#endif

// The connection comes up after a pause: the job waits for it and goes on.
TEST_F(JobsTest, AConnectionThatComesUpLaterIsWaitedFor) {
  const ProcessResult r =
      Run({"/k:comic-ta", "/d:2008/12"}, {{"ZEMLIK_CONNMGR", "0x40,1500ms,0x11,0x10,0x40"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RequestLines(), Names{Get("www.bookshop.example", kComicPath)});
  EXPECT_EQ(ReadFileBytes(OutputFile()), Cp932(kComicCsv));
}

// Every failing run says what failed in one line on standard error, after the
// connection-error display's own line where there is one; the Windows build stays silent.
// Only the first words are pinned. A connection that fails, is refused or never comes up
// ends after the 20 s wait without a request, so the rows run side by side.
TEST_F(JobsTest, EveryFailureSaysWhatFailedInOneLine) {
  server_.Route(HttpRoute("/gone", "<html>gone</html>").Status(404, "Not Found"));
  server_.Route(HttpRoute("/cut", std::string(5000, 'c')).BreakAfter(1000));
  struct Row {
    std::vector<std::string> args;
    std::string connection;  // ZEMLIK_CONNMGR
    std::string display;     // the connection-error display's line
    std::string firstWords;
  };
  const std::string nowhere = root_.Join("missing/now.csv");
  Row rows[] = {
      {{"/k:comic-tx"}, "", "", "zemlik: command line rejected at \"comic-tx\""},
      {{"/d:2008/1x", "/k:nowtime"},
       "",
       "",
       "zemlik: command line rejected at \"x /k:nowtime\": not a month"},
      {{"/k:comic-ta", "/o:\\My Documents\\a.csv"},
       "0x21",
       ":MSREMNET -CMERROR 0x21 -report\n",
       "zemlik: comic-ta failed: no data connection (it failed with status 0x21)"},
      {{"/k:comic-ta", "/o:\\My Documents\\b.csv"},
       "refuse",
       ":MSREMNET -CMERROR 0x0 -report\n",
       "zemlik: comic-ta failed: no data connection"},
      {{"/k:bunko-ta", "/o:\\My Documents\\c.csv"},
       "0x40,100ms,0x20",
       "",
       "zemlik: bunko-ta failed: no data connection"},
      {{"/k:comic-wf", "/o:\\My Documents\\d.csv"},
       "0x40",
       "",
       "zemlik: comic-wf failed: no data connection within 20 s"},
      {{"/k:url", "/u:http://files.example/gone"},
       "",
       "",
       "zemlik: url failed: the server answered 404"},
      {{"/k:url", "/u:http://files.example/cut"},
       "",
       "",
       "zemlik: url failed: the body broke off after 1000 of 5000 bytes"},
      {{"/k:nowtime", "/o:" + nowhere}, "", "", "zemlik: nowtime failed: cannot create a file in"},
  };
  std::vector<ProcessResult> results(std::size(rows));
  std::vector<std::thread> runs;
  for (size_t i = 0; i < results.size(); ++i) {
    runs.emplace_back([&rows, &results, i, this] {
      Env env;
      if (!rows[i].connection.empty()) env["ZEMLIK_CONNMGR"] = rows[i].connection;
      results[i] = Run(rows[i].args, env);
    });
  }
  for (std::thread& run : runs) run.join();
  for (size_t i = 0; i < results.size(); ++i) {
    const Row& row = rows[i];
    const ProcessResult& result = results[i];
    SCOPED_TRACE(row.args.front() + " " + row.connection);
    EXPECT_EQ(result.exitCode, row.firstWords.find("rejected") != std::string::npos ? 2 : 3);
    EXPECT_EQ(result.out, "");
#if defined(_WIN32)
    EXPECT_EQ(result.err, row.display);
#else
    EXPECT_EQ(result.err.substr(0, row.display.size() + row.firstWords.size()),
              row.display + row.firstWords);
    EXPECT_TRUE(zemlik::testing::IsFailureReport(result.err.substr(row.display.size())));
#endif
  }
  EXPECT_EQ(root_.List(), (Names{"My Documents"}));
  Names requests = RequestLines();
  std::sort(requests.begin(), requests.end());
  EXPECT_EQ(requests, (Names{Get("files.example", "/cut"), Get("files.example", "/gone")}));
}

}  // namespace
