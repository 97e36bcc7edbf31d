// A test server written in Python, run as a child process. It is started with its
// script (a path under the source tree) and arguments, and writes "PORT <n>" as the
// first line of its standard output once it listens.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zemlik::testing {

class ScriptServer {
 public:
  // Starts `script` (relative to the source tree, e.g. "tests/support/http_fixture.py")
  // with `args`; waits at most 30 s for its port. port() is 0 when it did not come up.
  ScriptServer(const std::string& script, const std::vector<std::string>& args);
  ~ScriptServer() { Stop(); }
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  int port() const { return port_; }
  // Ends the server (SIGTERM) and reaps it; nothing when it is not running.
  void Stop();

 private:
  pid_t child_ = -1;
  int port_ = 0;
};

}  // namespace zemlik::testing
