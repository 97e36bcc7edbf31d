// Starts and stops tests/support/fault_server.py; talks to it through files in a private
// temporary folder (fault and body in, requests/NNNNNN.bin out).
#include "tests/support/fault_server.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace zemlik::testing {

namespace fs = std::filesystem;

namespace {

constexpr int kStartTimeoutMs = 30000;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

FaultServer::FaultServer() {
  std::string base = fs::temp_directory_path().string() + "/zemlik-faults-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) return;
  dir_ = base;

  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::string script = SourceDir() + "/tests/support/fault_server.py";
  std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::vector<char*> argv = {python.data(), script.data(), dir_.data(), nullptr};
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

FaultServer::~FaultServer() {
  if (child_ > 0) {
    kill(child_, SIGTERM);
    int status = 0;
    waitpid(child_, &status, 0);
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

std::string FaultServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string FaultServer::FaultUrl(const std::string& fault) const {
  return BaseUrl() + "/fault/" + fault;
}

void FaultServer::SetFault(const std::string& fault) { WriteState("fault", fault); }

void FaultServer::SetBody(const std::string& bytes) { WriteState("body", bytes); }

// Replaced in one rename, so the server never reads half a file.
void FaultServer::WriteState(const std::string& name, const std::string& bytes) const {
  const std::string part = dir_ + "/" + name + ".part";
  WriteFileBytes(part, bytes);
  std::rename(part.c_str(), (dir_ + "/" + name).c_str());
}

std::vector<std::string> FaultServer::Requests() const {
  std::vector<fs::path> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir_ + "/requests", error)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> heads;
  for (const auto& name : names) heads.push_back(ReadFileBytes(name.string()).value_or(""));
  return heads;
}

std::string FaultServer::GzipSent() const { return ReadFileBytes(dir_ + "/gzip").value_or(""); }

ProcessResult RunZemlikWithin(int seconds, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env) {
  const char* wrapperText = std::getenv("ZEMLIK_TEST_WRAPPER");
  const std::vector<std::string> wrapper = Words(wrapperText != nullptr ? wrapperText : "");
  const int limit = wrapper.empty() ? seconds : 10 * seconds;
  std::vector<std::string> command = {"--signal=KILL", std::to_string(limit)};
  command.insert(command.end(), wrapper.begin(), wrapper.end());
  command.push_back(ZemlikBinary());
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess("/usr/bin/timeout", command, env);
}

}  // namespace zemlik::testing
