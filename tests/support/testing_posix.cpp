// The test helpers' POSIX side: starting processes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/testing.h"

extern char** environ;

namespace zemlik::test {
namespace {

// Starts `words` with standard input empty, this environment less ZEMLIK_* plus `env`, and its
// output into the files `out` and `err`, or with those closed where they are null.
pid_t Start(std::vector<std::string> words, const Env& env, const char* out = nullptr,
            const char* err = nullptr) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!entry.starts_with("ZEMLIK_") && env.count(entry.substr(0, entry.find('='))) == 0)
      entries.push_back(entry);
  }
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& word : words) argv.push_back(word.data());
  for (std::string& entry : entries) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (auto [fd, path] : {std::pair{1, out}, {2, err}}) {
    if (path == nullptr) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

Result RunProcess(const std::string& program, const std::vector<std::string>& args, const Env& env,
                  int seconds, int signal) {
  TempFolder outputs;
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  const pid_t pid = Start(words, env, outputs.Join("out").c_str(), outputs.Join("err").c_str());
  Result result;
  int status = 0;
  for (int waited = 0; pid > 0 && waitpid(pid, &status, WNOHANG) == 0; waited += 5) {
    if (seconds > 0 && waited == seconds * 1000) kill(pid, signal);
    usleep(5000);
  }
  if (pid > 0) result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFileBytes(outputs.Join("out")).value_or("");
  result.err = ReadFileBytes(outputs.Join("err")).value_or("cannot start " + program);
  return result;
}

Result RunJob(const std::string& root, const Server& server, const std::vector<std::string>& args,
              Env env, int seconds, int signal) {
  env.insert({{"ZEMLIK_ROOT", root},
              {"ZEMLIK_CLOCK", "2008-12-21 03:03:17"},
              {"http_proxy", server.Url()},
              {"no_proxy", ""}});
  std::vector<std::string> words;
  std::istringstream wrapper(std::getenv("ZEMLIK_TEST_WRAPPER") ? std::getenv("ZEMLIK_TEST_WRAPPER")
                                                                : "");
  for (std::string word; wrapper >> word;) words.push_back(word);
  words.push_back(std::string(ZEMLIK_BUILD_DIR) + "/zemlik");
  const bool wrapped = words.size() > 1;  // a slower run
  words.insert(words.end(), args.begin(), args.end());
  return RunProcess(words[0], {words.begin() + 1, words.end()}, env, seconds * (wrapped ? 10 : 1),
                    signal);
}

bool IsFailureReport(const std::string& err) {
  return err.rfind("zemlik: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

void Spawn(const std::vector<std::string>& words) { Start(words, {}); }

std::string HostPath(const std::string& path) { return path; }

std::string ProxyGet(const std::string& host, const std::string& target) {
  return "GET http://" + host + target + " HTTP/1.1";
}

}  // namespace zemlik::test
