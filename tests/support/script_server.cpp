#include "tests/support/script_server.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/test_support.h"

extern char** environ;

namespace zemlik::testing {

namespace {
constexpr int kStartTimeoutMs = 30000;
}  // namespace

ScriptServer::ScriptServer(const std::string& script, const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::string path = SourceDir() + "/" + script;
  std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::vector<std::string> words = args;
  std::vector<char*> argv = {python.data(), path.data()};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, python.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    return;
  }
  child_ = pid;

  std::string line;
  pollfd waiting{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&waiting, 1, kStartTimeoutMs) > 0) {
    char buffer[64];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
}

void ScriptServer::Stop() {
  if (child_ <= 0) return;
  kill(child_, SIGTERM);
  int status = 0;
  waitpid(child_, &status, 0);
  child_ = -1;
}

}  // namespace zemlik::testing
