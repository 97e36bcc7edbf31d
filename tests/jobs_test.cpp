// The real binary end to end: every job with the file it writes and the request it sends
// through the test server as the HTTP proxy, the usage text, and what a failing run says.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Names = std::vector<std::string>;

const std::string kUsage =
    "Zemlik について\nZemlik\nVer.1.0.2008.1221\n月ごとの新刊情報を集めてCSVファイルに保存します\n"
    "本ソフトウェアは無保証です。自己責任でお使いください\n引数:\n  /k: "
    "種別(comic-ta,bunko-ta,comic-wf,url)\n"
    "  /d: 対象年月(yyyy/mm)\n  /u: URL\n  /c: 文字コード(sjis,utf8,bin)\n  /o: 出力ファイル\n例:\n"
    "  Zemlik /k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"\n";
const std::string kNow = "date,time\r\n2008/12/21,03:03:17 \r\n";
const std::string kShop = "www.bookshop.example", kBooklist = "www.booklist.example";

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    server_.Add(kComicPath, Cp932(kComicPage));
    server_.Add(kBunkoPath, Cp932(kBunkoPage));
    server_.Add(kBooklistPath, Cp932(kBooklist));
  }
  // Leading NAME=value words set the program's environment, as they would in a shell.
  Result Zemlik(Names args, Env env = {}) {
    for (; !args.empty() && args[0].find('=') < args[0].find('/'); args.erase(args.begin()))
      env[args[0].substr(0, args[0].find('='))] = args[0].substr(args[0].find('=') + 1);
    return RunJob(root_.path(), server_, args, env);
  }
  std::string Stored(const std::string& name) {
    return ReadFileBytes(root_.Join("My Documents/" + name)).value_or("<none>");
  }
  Names RequestLines() {
    Names lines;
    for (const auto& request : server_.Requests()) lines.push_back(request.line);
    return lines;
  }

  TempFolder root_;
  Server server_;
};

TEST_F(JobsTest, EveryJobStoresWhatItFetched) {
  const std::string raw("PK\x03\x04\0\0\xff\x80 raw", 12);
  server_.Add("/data.bin?m=12", raw);
  server_.Add("/note.txt", "ノート\n");
  server_.Add("/comic/comic0811_listdate.html",  // stops at a malformed entry
              Cp932("件を表示します。<li>11/05　　講談社　　海辺　　青山　　\\450　　新刊　　</"
                    "li><li>11/12　x</li>"));
  server_.Add(
      "/bunko/bunko0901_listdate.html",
      Cp932("件を表示します。<li>1/05　　講談社　　新刊　　海辺　　青山　　\\450　　</table>"));
  server_.Add("*", "<html>no list this month</html>");
  const std::string header = "date,company,title,author,price,memo\r\n",
                    none = "<html>no list this month</html>\r\n", dec08 = kBooklist + kBooklistPath,
                    booklist = dec08.substr(0, dec08.rfind('/') + 1),
                    note = Cp932("ノート\n") + "\r\n";
  // The words, the request's host and path ("" for none), and the file under My Documents.
  const struct {
    std::string words, request, stored, file = "monthlist.csv";
  } rows[] = {
      {" ", kShop + kComicPath, Cp932(kComicCsv)},
      {"/k:bunko-ta|/d:08/12|/o:\\My Documents\\bunko.csv", kShop + kBunkoPath, Cp932(kBunkoCsv),
       "bunko.csv"},
      {"/k:comic-wf|/d:2008/12|/c:bin", dec08, Cp932(kBooklist) + "\r\n"},
      {"/k:url|/u:http://files.example/data.bin?m=12|/c:bin|/o:\\My Documents\\d",
       "files.example/data.bin?m=12", raw, "d"},
      // A host name beyond ASCII goes out in its IDNA form.
      {"/k:url|/u:http://日本.example/note.txt|/c:utf8", "xn--wgv71a.example/note.txt", note},
      {"/k:comic-ta|/d:2008/11", kShop + "/comic/comic0811_listdate.html",
       Cp932(header + "2008/11/05,講談社,海辺,青山,450,新刊\r\n")},
      // The year and month from /d: name the source and date the records, whatever the clock.
      {"/k:comic-ta|/d:1999/12", kShop + "/comic/comic-112_listdate.html", header},
      {"/k:bunko-ta|/d:2009/1", kShop + "/bunko/bunko0901_listdate.html",
       Cp932(
           "date,company,category,title,author,price\r\n2009/1/05,講談社,新刊,海辺,青山,450\r\n")},
      {"/k:comic-wf|/d:2008/0", booklist + "08.csv", none},
      {"/k:comic-wf|/d:2010/1", booklist + "jan10.csv", none},
      // nowtime: no request, /d: ignored; output words with blanks are quoted for the device.
      {"/d:1999/7|/k:nowtime", "", kNow},
      {"/k:nowtime|/o:\"\\My Documents\\新刊 一覧.csv\"", "", kNow, "新刊 一覧.csv"},
  };
  Names expected;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = Zemlik(Words(row.words));
    EXPECT_EQ(std::tuple(r.exitCode, r.out, r.err), std::tuple(0, "", ""));
    EXPECT_EQ(Stored(row.file), row.stored);
    const size_t slash = row.request.find('/');
    if (slash != std::string::npos)
      expected.push_back(ProxyGet(row.request.substr(0, slash), row.request.substr(slash)));
  }
  EXPECT_EQ(RequestLines(), expected);
}

// (The Windows build shows the text in a modal box instead.)
TEST_F(JobsTest, NoArgumentsShowTheUsageTextAndTouchNothing) {
  for (const Names& args : {Names{}, Names{""}}) {
    const Result r = Zemlik(args);
    EXPECT_EQ(std::tuple(r.exitCode, r.out, r.err), std::tuple(1, kUsage, ""));
  }
  EXPECT_EQ(root_.List(), Names{});
}

// Every failing run says what failed in one line on standard error, last (after the
// connection-error display's line where there is one); only its first words are pinned. A
// connection that fails, is refused or never comes up ends after the 20 s wait without a
// request, so the rows run side by side.
TEST_F(JobsTest, EveryFailureSaysWhatFailedInOneLine) {
  server_.Add("/gone", "<html>gone</html>", R"("status":404)");
  server_.Add("/cut", std::string(5000, 'c'), R"("cut_after":1000)");
  server_.Add("/auth", "", R"("status":401,"headers":[["WWW-Authenticate","Basic realm=\"r\""]])");
  server_.Add("/big", std::string(200000, 'b'));  // more than a pipe holds
  const std::string unreached = "http://127.0.0.1:" + std::to_string(server_.FullPort());
  TempFolder far;  // a folder too long for a temporary name beside its file (251), and pipes
  const std::string deep = far.Join(std::string(250 - far.path().size(), 'f')),
                    left = far.Join("left");
  std::filesystem::create_directory(deep);
  ASSERT_EQ(mkfifo(far.Join("pipe").c_str(), 0600) + mkfifo(left.c_str(), 0600), 0);
  Spawn({"timeout", "60", "sh", "-c", ": <\"$1\"", "sh", left});  // a reader that goes away
  const struct {
    std::string words, report;
  } rows[] = {
      {"/k:comic-tx",
       "command line rejected at \"comic-tx\": no such job (the jobs are comic-ta, "
       "bunko-ta, comic-wf, url and nowtime)"},
      {"/d:2008/1x|/k:nowtime", "command line rejected at \"x /k:nowtime\": not a month"},
      {"/u:a|/u:b", "command line rejected at \"/u:b\""},
      {"/c:SJIS", "command line rejected at \"SJIS\": no such charset"},
      {"/k:nowtime|/o:\\My|Documents\\x.csv", "command line rejected at \"Documents"},
      {"/k:tx|/u:http://alice:secret@h/", "command line rejected at \"tx /u:http://alice:***@h/\""},
      {"/k:nowtime|/o:\xff.csv", "command line rejected: argument 2 is not valid UTF-8"},
      {"ZEMLIK_CLOCK=2008-13-01 00:00:00|/k:nowtime",
       "nothing was run: ZEMLIK_CLOCK is \"2008-13-01 00:00:00\", which is no time"},
      {"ZEMLIK_CONNMGR=0x21|/k:comic-ta",
       "comic-ta failed: no data connection (it failed with status 0x21)"},
      {"ZEMLIK_CONNMGR=refuse|/k:comic-ta", "comic-ta failed: no data connection"},
      {"ZEMLIK_CONNMGR=0x40,100ms,0x20|/k:bunko-ta", "bunko-ta failed: no data connection"},
      {"ZEMLIK_CONNMGR=0x40|/k:comic-wf", "comic-wf failed: no data connection within 20 s"},
      {"/k:url|/u:http://files.example/gone", "url failed: the server answered 404"},
      {"/k:url|/u:http://alice:pw@files.example/auth",
       "url failed: the server answered 401 for http://files.example/auth: it asks for a login, "
       "and a user name and password in the URL are not used"},
      {"/k:url|/u:http://files.example/" + std::string(130000, 'a'),
       "url failed: the server answered 404 for http://files.example/" + std::string(56, 'a') +
           "...; no output file"},
      {"/k:url|/u:http://files.example/cut",
       "url failed: the body broke off after 1000 of 5000 bytes"},
      {"http_proxy=http://[bad|/k:url|/u:http://files.example/x",
       "url failed: cannot fetch http://files.example/x: the proxy setting cannot be used"},
      {"http_proxy=" + unreached + "|ZEMLIK_INET_TIMEOUT_MS=500|/k:url|/u:http://files.example/x",
       "url failed: cannot fetch http://files.example/x: the host or proxy cannot be reached"},
      {"https_proxy=" + server_.Url() + "|/k:url|/u:https://files.example/x",
       "url failed: the proxy refused to connect to https://files.example/x (it answered 404)"},
      {"/k:comic-wf|/d:2008/13", "comic-wf failed: there is no booklist for month 13"},
      {"/k:nowtime|/o:\\missing\\now.csv", "nowtime failed: cannot create a file in"},
      {"/k:bunko-ta|/o:\\missing\\list.csv", "bunko-ta failed: cannot create a file in"},
      {"/k:nowtime|/o:\\My Documents\\",
       "nowtime failed: the output path \\My Documents\\ is a folder"},
      {"/k:nowtime|/o:" + std::string(300, 'p'),
       "command line rejected at \"" + std::string(77, 'p') +
           "...\": the output path is too long (300 characters; at most 259)"},
      {"/k:nowtime|/o:" + deep + "/x", "nowtime failed: the output path is too long"},
      {"/k:url|/o:" + far.Join("pipe"), "url failed: no URL given"},  // no reader waited for
      {"/k:url|/u:http://files.example/big|/c:bin|/o:" + left,
       "url failed: cannot write " + left + ": Broken pipe"},
      {"ZEMLIK_ROOT=" + root_.Join("gone") + "|/k:nowtime",
       "nowtime failed: the device root " + root_.Join("gone") + " does not exist"},
      {"ZEMLIK_ROOT=|HOME=|/k:nowtime",
       "nowtime failed: no device root (neither ZEMLIK_ROOT nor HOME is set)"},
  };
  std::vector<std::future<Result>> results;
  for (const auto& row : rows)
    results.push_back(std::async(std::launch::async, [&] { return Zemlik(Words(row.words)); }));
  for (size_t i = 0; i < results.size(); ++i) {
    const auto& [words, report] = rows[i];
    SCOPED_TRACE(words.substr(0, 100));
    const Result r = results[i].get();
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(r.exitCode, report.starts_with("command") ? 2 : 3);
    EXPECT_TRUE(r.out.empty() && IsFailureReport(last) && last.starts_with("zemlik: " + report))
        << r.err;
  }
  EXPECT_EQ(root_.List(), Names{"My Documents"});
  Names requests = RequestLines(), expected = {"CONNECT files.example:443 HTTP/1.1"};
  for (const std::string& path :
       Names{"/" + std::string(130000, 'a'), "/auth", "/big", "/cut", "/gone"})
    expected.push_back(ProxyGet("files.example", path));
  expected.push_back(ProxyGet(kShop, kBunkoPath));
  std::sort(requests.begin(), requests.end());
  EXPECT_EQ(requests, expected);
}

TEST_F(JobsTest, ALateConnectionIsWaitedForAndTraceLinesSayWhatHappened) {
  EXPECT_EQ(Zemlik({"ZEMLIK_CONNMGR=0x40,1500ms,0x11,0x10,0x40", "/k:comic-ta"}).exitCode, 0);
  EXPECT_EQ(Stored("monthlist.csv"), Cp932(kComicCsv));
  const std::string path = "/o:\\" + std::string(5000, 'p');
  const Result traced = Zemlik({"/k:nowtime", "/d:2009/3", path}, {{"ZEMLIK_TRACE", "1"}});
  EXPECT_EQ(traced.exitCode, 2);  // a path too long for the options
  EXPECT_EQ(traced.err.substr(0, traced.err.find('\n')),
            ("cs=1 cl=[/k:nowtime /d:2009/3 " + path).substr(0, 999));
  // What goes out has a URL's password masked; "0" turns the trace off.
  const Names words = {"/u:http://a:pw@h/", "/o:x", "/c:SJIS"};
  const Result rejected = Zemlik(words, {{"ZEMLIK_TRACE", "1"}});
  EXPECT_EQ(rejected.err.substr(0, rejected.err.find("zemlik:")),
            "cs=1 cl=[/u:http://a:***@h/ /o:x /c:SJIS]\npcl:rc=-101 k=1 dt=2008/12 fn=[x]\n");
  EXPECT_TRUE(IsFailureReport(Zemlik(words, {{"ZEMLIK_TRACE", "0"}}).err));
}

}  // namespace
}  // namespace zemlik::test
