// What the tests of both builds share: wide text, temporary folders, the test server
// (server.py), the real binary (from Linux), a fixed clock and the sample pages.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/time.h"
#include "platform/win32.h"

namespace zemlik::test {

using WString = std::basic_string<WCHAR>;
// Through the platform's own conversions; code page 932 is the ANSI code page.
WString Utf16(const std::string& utf8);
std::string Utf8(const WString& utf16);
std::string Cp932(const std::string& utf8);

// A fresh folder, removed with what it holds at the end of the scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  std::string Join(const std::string& relative) const { return path_ + "/" + relative; }
  std::vector<std::string> List() const;  // every entry below, relative, sorted

 private:
  std::string path_;
};

std::optional<std::string> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

std::string SourceDir();
// Starts `words` (a Unix program and its arguments) and does not wait for it.
void Spawn(const std::vector<std::string>& words);
// A path as Unix programs name it (under wine a Windows path has a Unix form).
std::string HostPath(const std::string& path);

// Sets (a value) or removes (null) environment variables for a scope.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> variables);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  static ScopedEnv NoProxy();  // every proxy variable curl reads, removed

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct Request {
  std::string raw;   // head and body as received
  std::string line;  // "GET /x HTTP/1.1"
  std::string body;
};

// tests/support/server.py as a child process; its state lives in a temporary folder.
class Server {
 public:
  explicit Server(bool tls = false);
  ~Server();
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  int ClosedPort() const { return closedPort_; }  // refuses connections
  int FullPort() const { return fullPort_; }      // never accepts one: connecting times out
  std::string Url(const std::string& target = "") const;
  std::string CaFile() const { return folder_.Join("ca.pem"); }
  // Answers requests for `path` ("*": any) with `body`; `options` are more of the route's
  // JSON fields as server.py names them, e.g. "\"status\":404". Routes match in the order
  // they were added.
  void Add(const std::string& path, const std::string& body = "", const std::string& options = "");
  void Clear();
  std::vector<Request> Requests() const;

 private:
  bool tls_;
  TempFolder folder_;
  std::string routes_;
  int port_ = 0, closedPort_ = 0, fullPort_ = 0;
};

// "a|b c|d" as the words "a", "b c" and "d".
std::vector<std::string> Words(const std::string& text);

#if !defined(_WIN32)  // the real binary is run from this side only
using Env = std::map<std::string, std::string>;
struct Result {
  int exitCode = -1;  // 128 + the signal that ended it (137 when killed at its deadline)
  std::string out, err;
};
// `program` with this environment less ZEMLIK_*, plus `env`; sent `signal` after `seconds`
// (0: never).
Result RunProcess(const std::string& program, const std::vector<std::string>& args,
                  const Env& env = {}, int seconds = 0, int signal = 9 /* SIGKILL */);
// The built binary (behind ZEMLIK_TEST_WRAPPER's words when set, e.g. valgrind) with its
// device root in `root`, the clock at 2008-12-21 03:03:17 and every request going to
// `server` as the HTTP proxy, unless `env` says otherwise.
Result RunJob(const std::string& root, const Server& server, const std::vector<std::string>& args,
              Env env = {}, int seconds = 0, int signal = 9 /* SIGKILL */);
// What exit codes 2 and 3 add to standard error: one "zemlik: " line.
bool IsFailureReport(const std::string& err);
#endif

// A GET's request line through a proxy; wine's WinINet names the port 80.
std::string ProxyGet(const std::string& host, const std::string& target);

// Pins the platform's clock for its scope, to 2008-12-21 03:03:17 unless told otherwise.
class FixedClock : public platform::Clock {
 public:
  explicit FixedClock(SYSTEMTIME reading = {2008, 12, 0, 21, 3, 3, 17, 0}) : reading_(reading) {
    platform::SetClockForTesting(this);
  }
  ~FixedClock() override { platform::SetClockForTesting(nullptr); }
  void Now(SYSTEMTIME* out) override { *out = reading_; }

 private:
  SYSTEMTIME reading_;
};

// The sample pages in UTF-8 (the shop serves them in code page 932), what the jobs store for
// them under the clock above, and where the shop and the booklist site keep them.
extern const std::string kComicPage, kComicCsv, kBunkoPage, kBunkoCsv, kBooklist;
extern const std::string kComicPath, kBunkoPath, kBooklistPath;

}  // namespace zemlik::test
