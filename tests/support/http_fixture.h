// A real HTTP/1.1 server on loopback for tests: tests/support/http_fixture.py run as a
// child process on an ephemeral port. It answers with scripted responses and records the
// raw bytes of every request it receives.
//
//   HttpFixture server;                      // or HttpFixture server({.tls = true});
//   ASSERT_TRUE(server.ok());
//   server.Route(HttpRoute("/list.csv", "a,b\r\n").Header("Content-Type", "text/csv"));
//   ... fetch server.Url("/list.csv") with the code under test ...
//   std::vector<HttpRecord> seen = server.Requests();
//   EXPECT_EQ(seen[0].requestLine, "GET /list.csv HTTP/1.1");
//
// Routes are matched in the order they were added; the first whose path (and host, when
// set) matches answers; with none the answer is 404 "no route". Routes may be added while
// the server runs. Scripted misbehaviour: chunked bodies, a connection broken after N body
// bytes, a body that stalls after N bytes, no Content-Length (body ends at close), a server
// that reads and never answers.
//
// Proxy: requests with an absolute URI ("GET http://shop.example/x HTTP/1.1") are served
// from the same routes, looked up by the URI's path and host, as a forward proxy would; so
// `ScopedEnvVar proxy("http_proxy", server.BaseUrl());` lets a test fetch any host name
// through the fixture, and the recorded request line shows the absolute URI. A binary run
// as a child gets the same through its environment (http_proxy=<BaseUrl()>). Loopback tests
// hold a ScopedNoProxy first, so the host's own proxy settings cannot interfere.
//
// TLS: with {.tls = true} the server speaks https with a certificate for 127.0.0.1 and
// localhost, signed by a test CA made with openssl at start; CaFile() names that CA
// (e.g. `ScopedEnvVar ca("CURL_CA_BUNDLE", server.CaFile());`).
//
// Large bodies: HttpRoute::BodyFile serves a file (sendfile on plain http), Repeat sends
// the body several times over; both keep big routes small.
//
// Needs python3 and (for TLS) openssl on the PATH; tools/install-deps.sh lists both.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/script_server.h"

struct HttpRoute {
  HttpRoute() = default;
  explicit HttpRoute(std::string matchPath, std::string responseBody = "")
      : path(std::move(matchPath)), body(std::move(responseBody)) {}

  HttpRoute& Status(int code, std::string text) {
    status = code;
    reason = std::move(text);
    return *this;
  }
  HttpRoute& Header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  HttpRoute& Host(std::string name) { return host = std::move(name), *this; }
  HttpRoute& Repeat(long times) { return repeat = times, *this; }
  HttpRoute& BodyFile(std::string file) { return bodyFile = std::move(file), *this; }
  HttpRoute& Chunked(long pieceSize) { return chunked = pieceSize, *this; }
  HttpRoute& NoLength() { return noLength = true, *this; }
  HttpRoute& BreakAfter(long bytes) { return breakAfter = bytes, *this; }
  HttpRoute& StallAfter(long bytes) { return stallAfter = bytes, *this; }
  HttpRoute& Hang() { return hang = true, *this; }
  HttpRoute& Basic(const std::string& user, const std::string& password) {
    return basic = user + ":" + password, *this;
  }

  std::string path = "*";  // request target (path and query) to match, or "*"
  std::string body;
  std::string host;  // Host name to match (no port); empty matches any
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  long repeat = 1;        // the body is sent this many times over
  std::string bodyFile;   // when set, the body is this file's content
  long chunked = 0;       // >0: Transfer-Encoding chunked in pieces of this size
  bool noLength = false;  // no Content-Length: the body ends when the connection closes
  long breakAfter = -1;   // >=0: only this many body bytes are sent, then the connection closes
  long stallAfter = -1;   // >=0: only this many body bytes are sent, then nothing more
  bool hang = false;      // the request is read and recorded, and never answered
  std::string basic;      // "user:password": without them (HTTP Basic) a 401 challenge instead
};

struct HttpRecord {
  std::string raw;          // request line, headers, blank line and body, as received
  std::string requestLine;  // "GET /x HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // in order, as received
  std::string body;
  // The value of the first header of that name (case-insensitive), if any.
  std::optional<std::string> Header(const std::string& name) const;
};

class HttpFixture {
 public:
  struct Options {
    bool tls = false;
  };
  HttpFixture() : HttpFixture(Options{}) {}
  explicit HttpFixture(Options options);
  ~HttpFixture();
  HttpFixture(const HttpFixture&) = delete;
  HttpFixture& operator=(const HttpFixture&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" (https with TLS).
  std::string BaseUrl() const;
  std::string Url(const std::string& target) const { return BaseUrl() + target; }
  std::string CaFile() const { return dir_ + "/ca.pem"; }
  // Why a client under test cannot be made to trust CaFile(), or null when it can (by
  // CURL_CA_BUNDLE). On Windows the system's certificate store alone decides.
  static const char* CaTrustUnavailable();

  void Route(const HttpRoute& route);
  void ClearRoutes();
  // Every request received so far, in arrival order.
  std::vector<HttpRecord> Requests() const;

  // A loopback port on which nothing listens (connections are refused).
  static int UnusedPort();

 private:
  void WriteRoutes() const;

  Options options_;
  std::string dir_;
  std::unique_ptr<zemlik::testing::ScriptServer> server_;
  int port_ = 0;
  std::vector<HttpRoute> routes_;
};

// Sets (or, with a null value, unsets) an environment variable for a scope and restores
// its previous state afterwards.
class ScopedEnvVar {
 public:
  ScopedEnvVar(const char* name, const char* value);
  ScopedEnvVar(const char* name, const std::string& value) : ScopedEnvVar(name, value.c_str()) {}
  ~ScopedEnvVar();
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Clears every proxy variable curl reads (http_proxy, https_proxy, all_proxy, no_proxy, in
// both cases) for a scope, so that loopback tests do not depend on the host's settings.
class ScopedNoProxy {
 public:
  ScopedNoProxy();

 private:
  ScopedEnvVar vars_[8];
};
