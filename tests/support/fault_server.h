// A loopback HTTP server that misbehaves on purpose: tests/support/fault_server.py run as a
// child process on an ephemeral port (its header lists the faults). It answers as an origin
// server and as a forward proxy, so the real binary reaches it through http_proxy for any
// host name.
//
//   FaultServer server;
//   ASSERT_TRUE(server.ok());
//   server.SetBody(page);                     // what the body-carrying faults send
//   server.SetFault("reset-body");            // for every path that names no fault
//   ... /k:comic-ta with http_proxy=server.BaseUrl() ...
//   ... /k:url /u:server.FaultUrl("gzip") ...
//
// Also here: running the real binary with a deadline, so that a hang fails a test instead
// of stalling the suite.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/script_server.h"
#include "tests/support/test_support.h"

namespace zemlik::testing {

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>".
  std::string BaseUrl() const;
  // A URL whose path names the fault ("redirect-closed:40123" for one with an argument).
  std::string FaultUrl(const std::string& fault) const;

  // The fault for every path that names none; "ok" until set.
  void SetFault(const std::string& fault);
  // The body that the body-carrying faults send (taken anew for every request).
  void SetBody(const std::string& bytes);

  // Every request head received so far (request line and headers), in arrival order.
  std::vector<std::string> Requests() const;
  // The bytes the last "gzip" answer sent as its body.
  std::string GzipSent() const;

 private:
  void WriteState(const std::string& name, const std::string& bytes) const;

  std::string dir_;
  std::unique_ptr<ScriptServer> server_;
  int port_ = 0;
};

// The exit code a run gets when it had to be killed at its deadline (128 + SIGKILL).
constexpr int kKilledAtDeadline = 137;

// RunZemlik, killed when it has not ended after `seconds` (then exitCode is
// kKilledAtDeadline). Honours the same ZEMLIK_TEST_WRAPPER as RunZemlik, with the deadline
// stretched tenfold under it.
ProcessResult RunZemlikWithin(int seconds, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env = {});

}  // namespace zemlik::testing
