// The Windows build against this one: the same jobs through one server with the same pages
// and clock must send the same bytes and write the same files. Runs when
// ZEMLIK_WINDOWS_BUILD names a mingw build folder (make test-windows sets it): its
// programs run under wine with the folder's prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// A request's line, its header lines in order of name (the builds order them differently)
// and its body. Wine's WinINet names the default port in a proxy request's URI.
std::string Normalised(std::string raw) {
  const size_t port = raw.find(":80/");
  if (port < raw.find("\r\n")) raw.erase(port, 3);
  const size_t end = raw.find("\r\n\r\n");
  std::vector<std::string> lines;
  for (size_t at = raw.find("\r\n"); at < end; at = raw.find("\r\n", at + 2)) {
    lines.push_back(raw.substr(at + 2, raw.find("\r\n", at + 2) - at - 2));
  }
  std::sort(lines.begin(), lines.end());
  std::string out = raw.substr(0, raw.find("\r\n")) + "\n";
  for (const std::string& line : lines) out += line + "\n";
  return out + raw.substr(end + 4);
}

class WindowsParityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("ZEMLIK_WINDOWS_BUILD");
    if (build == nullptr || *build == 0)
      GTEST_SKIP() << "ZEMLIK_WINDOWS_BUILD names no Windows build";
    windows_ = build;
    ASSERT_TRUE(server_.ok());
    server_.Add(kComicPath, Cp932(kComicPage));
    server_.Add(kBunkoPath, Cp932(kBunkoPage));
    server_.Add(kBooklistPath, Cp932(kBooklist));
    server_.Add("/utf8.txt?q=a%20b&n=1", "ノート～\n");
    server_.Add("/sjis.txt?q=a%20b&n=1", Cp932("ノート～\n"));
    server_.Add("/bin.txt?q=a%20b&n=1", std::string("PK\x03\x04\0\xff\x80", 7));
    server_.Add("/short", std::string(5000, 's'), R"("cut_after":2000)");
  }

  std::string windows_;
  ScopedEnv noProxy_ = ScopedEnv::NoProxy();
  Server server_;
};

// Both builds: the same exit code, requests and file (an old one kept where the job fails,
// which only the Linux build says on standard error). The list jobs go through the proxy,
// the URL jobs directly; an error page and a body short of its length are no answer.
TEST_F(WindowsParityTest, EveryJobSendsAndStoresTheSame) {
  const std::string url = "/k:url|/u:" + server_.Url("/"), query = ".txt?q=a%20b&n=1";
  const std::string rows[] = {
      "/k:comic-ta|/d:2008/12", "/k:bunko-ta|/d:2008/12", "/k:comic-wf|/d:2008/12", "/k:nowtime",
      url + "utf8" + query + "|/c:utf8", url + "sjis" + query + "|/c:sjis",
      url + "bin" + query + "|/c:bin", url + "missing", url + "short",
      // Over an existing file by a relative path ({rel}: the root's); refused into a folder; into
      // NUL (the null device on Windows in any folder, a file's name on Linux); refused into a
      // folder with no room for a temporary name beside the file.
      "/k:nowtime|/o:{rel}My Documents/monthlist.csv", "/k:nowtime|/o:\\My Documents",
      "/k:nowtime|/o:{rel}NUL", "/k:nowtime|/o:\\" + std::string(250, 'f') + "\\x"};
  for (const std::string& row : rows) {
    SCOPED_TRACE(row);
    const bool fails = row.ends_with("missing") || row.ends_with("short") ||
                       row.ends_with("Documents") || row.ends_with("\\x");
    const bool nul = row.ends_with("NUL");
    std::vector<std::string> sent[2];
    std::optional<std::string> file[2];
    for (int windows = 0; windows < 2; ++windows) {
      TempFolder root;
      for (const std::string& name : {std::string("My Documents"), std::string(250, 'f')})
        std::filesystem::create_directory(root.Join(name));
      std::string words = row;
      if (const size_t at = words.find("{rel}"); at != words.npos)
        words.replace(at, 5, std::filesystem::relative(root.path()).generic_string() + "/");
      const std::string out = root.Join("My Documents/monthlist.csv");
      WriteFileBytes(out, "old,file\r\n");
      std::string dosRoot = "Z:" + root.path();
      std::replace(dosRoot.begin(), dosRoot.end(), '/', '\\');
      const std::string proxy = row.starts_with("/k:url") ? "" : server_.Url();
      const size_t before = server_.Requests().size();
      const Result r =
          windows ? RunProcess(SourceDir() + "/cmake/wine-run.sh",
                               Words(windows_ + "/wineprefix|" + windows_ + "/zemlik.exe|" + words),
                               {{"ZEMLIK_CLOCK", "2008-12-21 03:03:17"},
                                {"no_proxy", ""},
                                {"http_proxy", proxy},
                                {"ZEMLIK_ROOT", dosRoot}})
                  : RunJob(root.path(), server_, Words(words), {{"http_proxy", proxy}});
      EXPECT_EQ(r.exitCode, fails ? 3 : 0) << r.err;
      EXPECT_TRUE(!fails || windows ? r.err.empty() : IsFailureReport(r.err));
      const auto all = server_.Requests();
      for (size_t i = before; i < all.size(); ++i) sent[windows].push_back(Normalised(all[i].raw));
      file[windows] = ReadFileBytes(out);
      EXPECT_EQ(ReadFileBytes(root.Join("NUL")).has_value(), nul && !windows);
      for (const std::string& name : root.List())
        EXPECT_TRUE(name.find(".tmp") == name.npos && name.find(".TMP") == name.npos) << name;
    }
    EXPECT_EQ(std::pair(sent[1], file[1]), std::pair(sent[0], file[0]));
    EXPECT_TRUE(row.starts_with("/k:nowtime") || !sent[0].empty());
    EXPECT_EQ(file[0] == "old,file\r\n", fails || nul);
  }
}

}  // namespace
}  // namespace zemlik::test
