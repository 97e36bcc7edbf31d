// The Windows build against this one: the same jobs through one fixture with the same
// pages and the same clock. The bytes each build sends and the files each writes must
// be equal. Runs on Linux when ZEMLIK_WINDOWS_BUILD names a mingw build folder (make
// test-windows sets it): its zemlik.exe runs under wine with the folder's prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/cp932.h"
#include "tests/support/http_fixture.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::Cp932;
using zemlik::testing::ProcessResult;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::RunProcess;
using zemlik::testing::RunZemlik;
using zemlik::testing::TempFolder;

using Args = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

const std::string kComicPage =
    "<p>全2件中 1～2件を表示します。</p><table><tr><td><ul>\r\n"
    "<li>12/05　　講談社　　海辺の図書館　第3巻　　青山ミナト　　\\450　　新刊　　</li>\r\n"
    "<li>12/19　　小学館　　鉄路のむこう～前編　　北村サトシ　　\\550　　初回限定版あり　　</"
    "li>\r\n"
    "</ul></td></tr></table>\r\n";
const std::string kBunkoPage =
    "<p>全1件中 1～1件を表示します。</p><table><tr><td><ul>\r\n"
    "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</li>\r\n"
    "</ul></td></tr></table>\r\n";
const std::string kBooklist = "発売日,出版社,書名\r\n12/05,講談社,海辺の図書館 3\r\n";

// The parts of a raw request: its first line, its header lines sorted, what follows them.
std::string RequestLine(const std::string& raw) { return raw.substr(0, raw.find("\r\n")); }

std::vector<std::string> HeaderLines(const std::string& raw) {
  std::vector<std::string> lines;
  const size_t end = raw.find("\r\n\r\n");
  size_t begin = raw.find("\r\n") + 2;
  while (begin < end) {
    const size_t next = raw.find("\r\n", begin);
    lines.push_back(raw.substr(begin, next - begin));
    begin = next + 2;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string Body(const std::string& raw) { return raw.substr(raw.find("\r\n\r\n") + 4); }

// What one run of one build left: its result, the requests the fixture saw (raw) and
// the output file.
struct Outcome {
  ProcessResult process;
  std::vector<std::string> requests;
  std::optional<std::string> file;
};

class WindowsParityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("ZEMLIK_WINDOWS_BUILD");
    if (build == nullptr || *build == 0) {
      GTEST_SKIP() << "ZEMLIK_WINDOWS_BUILD names no Windows build (make test-windows sets it)";
    }
    windowsBuild_ = build;
    ASSERT_TRUE(server_.ok());
    server_.Route(HttpRoute("/comic/comic0812_listdate.html", Cp932(kComicPage)));
    server_.Route(HttpRoute("/bunko/bunko0812_listdate.html", Cp932(kBunkoPage)));
    server_.Route(HttpRoute("/review/kurodai/data/booklist/dec08.csv", Cp932(kBooklist)));
    server_.Route(
        HttpRoute("/utf8.txt?q=a%20b&n=1", "ノート～\n").Header("Content-Type", "text/plain"));
    server_.Route(HttpRoute("/sjis.txt?q=a%20b&n=1", Cp932("ノート～\n")));
    server_.Route(HttpRoute("/raw.bin?q=a%20b&n=1", std::string("PK\x03\x04\0\xff\x80", 7)));
  }

  // Runs `args` with one build against the fixture, in a fresh device root holding
  // `oldFile` as the output file when one is given, with the clock pinned; `proxy` puts the
  // fixture in http_proxy.
  Outcome Run(bool windows, const Args& args, bool proxy,
              const std::optional<std::string>& oldFile = std::nullopt) {
    TempFolder root;
    if (oldFile) {
      std::filesystem::create_directory(root.Join("My Documents"));
      EXPECT_TRUE(
          zemlik::testing::WriteFileBytes(root.Join("My Documents/monthlist.csv"), *oldFile));
    }
    Env env = {{"ZEMLIK_CLOCK", "2008-12-21 03:03:17"}};
    if (proxy) env["http_proxy"] = server_.BaseUrl();
    const size_t seen = server_.Requests().size();
    Outcome outcome;
    if (windows) {
      // Wine shows the Unix file system as drive Z:.
      std::string dosRoot = "Z:" + root.path();
      for (char& c : dosRoot) {
        if (c == '/') c = '\\';
      }
      env["ZEMLIK_ROOT"] = dosRoot;
      outcome.process = RunWindows("zemlik.exe", args, env);
    } else {
      env["ZEMLIK_ROOT"] = root.path();
      outcome.process = RunZemlik(args, env);
    }
    outcome.requests = RequestsSince(seen);
    outcome.file = ReadFileBytes(root.Join("My Documents/monthlist.csv"));
    return outcome;
  }

  // Runs `program` of the Windows build (a path below its folder) under wine.
  ProcessResult RunWindows(const std::string& program, const Args& args, const Env& env) const {
    Args wine = {windowsBuild_ + "/wineprefix", windowsBuild_ + "/" + program};
    wine.insert(wine.end(), args.begin(), args.end());
    return RunProcess(zemlik::testing::SourceDir() + "/cmake/wine-run.sh", wine, env);
  }

  // The raw requests the fixture received after the first `seen`.
  std::vector<std::string> RequestsSince(size_t seen) const {
    std::vector<std::string> raw;
    const std::vector<HttpRecord> records = server_.Requests();
    for (size_t i = seen; i < records.size(); ++i) raw.push_back(records[i].raw);
    return raw;
  }

  // Both builds, then what must be equal between them: the exit code, the one request and
  // the output file (`oldFile` as it was, where the job fails).
  void ExpectSameBytes(const Args& args, bool proxy, int exitCode = 0,
                       const std::optional<std::string>& oldFile = std::nullopt) {
    const Outcome onLinux = Run(false, args, proxy, oldFile);
    const Outcome onWindows = Run(true, args, proxy, oldFile);
    EXPECT_EQ(onLinux.process.exitCode, exitCode) << onLinux.process.err;
    EXPECT_EQ(onWindows.process.exitCode, exitCode) << onWindows.process.err;
    ASSERT_EQ(onLinux.requests.size(), 1u);
    ASSERT_EQ(onWindows.requests.size(), 1u);
    std::string windowsRequest = onWindows.requests[0];
    if (proxy) {
      // The one difference on the wire: wine's WinINet names the default port in the
      // absolute URI of a proxy request ("http://host:80/path"); Windows' does not.
      const size_t port = windowsRequest.find(":80/");
      ASSERT_NE(port, std::string::npos) << windowsRequest;
      ASSERT_LT(port, windowsRequest.find("\r\n"));
      windowsRequest.erase(port, 3);
    }
    EXPECT_EQ(windowsRequest, onLinux.requests[0]);
    ASSERT_TRUE(onLinux.file.has_value());
    EXPECT_EQ(onWindows.file, onLinux.file);
    if (exitCode != 0) {
      EXPECT_EQ(onLinux.file, oldFile);
      // The Linux build says why on standard error; the Windows build is silent.
      EXPECT_TRUE(zemlik::testing::IsFailureReport(onLinux.process.err)) << onLinux.process.err;
      EXPECT_EQ(onWindows.process.err, "");
    }
  }

  std::string windowsBuild_;
  ScopedNoProxy noProxy_;  // the children get only the proxy a case sets
  HttpFixture server_;
};

TEST_F(WindowsParityTest, ListJobsThroughTheProxySendAndWriteTheSameBytes) {
  for (const Args& args : {Args{"/k:comic-ta", "/d:2008/12"}, Args{"/k:bunko-ta", "/d:2008/12"},
                           Args{"/k:comic-wf", "/d:2008/12"}}) {
    SCOPED_TRACE(args.front());
    ExpectSameBytes(args, true);
  }
}

TEST_F(WindowsParityTest, UrlJobsSentDirectlyAreTheSameBytesOnTheWire) {
  for (const char* name : {"utf8", "bin", "sjis"}) {
    SCOPED_TRACE(name);
    const std::string target =
        std::string(name) == "bin" ? "/raw.bin" : "/" + std::string(name) + ".txt";
    ExpectSameBytes(
        {"/k:url", "/u:" + server_.Url(target + "?q=a%20b&n=1"), "/c:" + std::string(name)}, false);
  }
}

// An error page, and a body that ends short of its Content-Length, are no answer on either
// build.
TEST_F(WindowsParityTest, AnErrorPageOrAShortBodyKeepsTheOldFileOnBoth) {
  server_.Route(HttpRoute("/short.txt", std::string(5000, 's')).BreakAfter(2000));
  for (const char* target : {"/missing.txt", "/short.txt"}) {
    SCOPED_TRACE(target);
    ExpectSameBytes({"/k:url", "/u:" + server_.Url(target)}, false, 3, "old,file\r\n");
  }
}

// Requests no job sends (form POSTs, credentials), through the program's SendReqData in
// each build (send_request): the same requests in the same sequence, each with the same
// request line, header lines and body. The order of the header lines is not compared:
// WinINet writes Content-Length right after Host, libcurl after the headers it was given.
TEST_F(WindowsParityTest, PostsAndCredentialsSendTheSameRequests) {
  server_.Route(HttpRoute("/form", "found"));
  server_.Route(HttpRoute("/private", "found").Basic("reader", "pa:ss"));
  const std::string port = std::to_string(server_.port());
  for (const Args& args : {Args{"127.0.0.1", "POST", "/form", port, "q=%82%A0&n=1"},
                           Args{"127.0.0.1", "POST", "/form", port, "-"},
                           Args{"127.0.0.1", "GET", "/private", port, "-", "reader", "pa:ss"},
                           Args{"127.0.0.1", "POST", "/private", port, "a=b", "reader", "pa:ss"}}) {
    SCOPED_TRACE(args[1] + " " + args[2] + " " + args[4]);
    std::vector<std::vector<std::string>> sent;
    for (bool windows : {false, true}) {
      const size_t seen = server_.Requests().size();
      const ProcessResult result = windows ? RunWindows("tests/send_request.exe", args, {})
                                           : RunProcess(ZEMLIK_SEND_REQUEST, args);
      EXPECT_EQ(result.exitCode, 0) << result.err;
      EXPECT_EQ(result.out, "0\nfound");
      sent.push_back(RequestsSince(seen));
    }
    // Where credentials are asked for: the first request without them, then the answer to
    // the challenge with them.
    ASSERT_EQ(sent[0].size(), args.size() == 7 ? 2u : 1u);
    ASSERT_EQ(sent[1].size(), sent[0].size());
    for (size_t i = 0; i < sent[0].size(); ++i) {
      const std::string& onLinux = sent[0][i];
      const std::string& onWindows = sent[1][i];
      EXPECT_EQ(RequestLine(onWindows), RequestLine(onLinux));
      EXPECT_EQ(HeaderLines(onWindows), HeaderLines(onLinux)) << onLinux << "\n" << onWindows;
      EXPECT_EQ(Body(onWindows), Body(onLinux));
    }
  }
}

TEST_F(WindowsParityTest, NowTimeWritesTheSameFile) {
  const Outcome onLinux = Run(false, {"/k:nowtime"}, false);
  const Outcome onWindows = Run(true, {"/k:nowtime"}, false);
  EXPECT_EQ(onWindows.process.exitCode, 0) << onWindows.process.err;
  ASSERT_EQ(onLinux.file, std::optional<std::string>("date,time\r\n2008/12/21,03:03:17 \r\n"));
  EXPECT_EQ(onWindows.file, onLinux.file);
}

}  // namespace
